# Installation, the Debian package (cpack -G DEB in the build directory) and their checks.
# The program's files come with the kestrine target (absent when KESTRINE_GUI is off).
include(GNUInstallDirs)

# The changelog and the manual pages are installed compressed as Debian wants them: gzip -9n
# stores no name or time, so the same text always gives the same bytes. Compressed when
# configuring, and again whenever the text changes.
set(KESTRINE_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KESTRINE_PACKAGING_DIR})
find_program(KESTRINE_GZIP gzip REQUIRED)
function(kestrine_gzip source target)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/${source})
  execute_process(COMMAND ${KESTRINE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/${source}
    OUTPUT_FILE ${KESTRINE_PACKAGING_DIR}/${target} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress packaging/${source}")
  endif()
endfunction()

set(KESTRINE_PACKAGE_GUI OFF)
if(TARGET kestrine)
  set(KESTRINE_PACKAGE_GUI ON)
  install(TARGETS kestrine RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrine.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The hicolor theme: 16 and 32 drawn for their size, 48 up rendered from the SVG.
  foreach(size 16 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/src/ui/resources/kestrine-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kestrine.png)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/src/ui/resources/kestrine.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  kestrine_gzip(kestrine.1 kestrine.1.gz)
  install(FILES ${KESTRINE_PACKAGING_DIR}/kestrine.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(TARGETS kestrine-dump kestrine-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
kestrine_gzip(kestrine-dump.1 kestrine-dump.1.gz)
kestrine_gzip(kestrine-capture.1 kestrine-capture.1.gz)
install(FILES ${KESTRINE_PACKAGING_DIR}/kestrine-dump.1.gz ${KESTRINE_PACKAGING_DIR}/kestrine-capture.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The licence in Debian's machine-readable copyright format, and the package's changelog.
# Not CMAKE_INSTALL_DOCDIR: that is named after the project, with a capital K.
set(KESTRINE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kestrine)
kestrine_gzip(changelog changelog.Debian.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${KESTRINE_PACKAGING_DIR}/changelog.Debian.gz
  DESTINATION ${KESTRINE_DOC_DIR})

set(KESTRINE_PACKAGE_MAINTAINER "Harvoll <kestrine@harvoll.example>" CACHE STRING
  "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrine)
set(CPACK_PACKAGE_VENDOR Harvoll)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop packet capture for IPv4")
# Wrapped by hand: the control file keeps the lines as they are.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Kestrine captures the IPv4 datagrams that pass one local network interface,"
  "lists one summary line per packet while the capture runs, and decodes a"
  "selected packet into a tree: IP header, TCP, UDP, ICMP, IGMP and a hex/text"
  "dump of the rest. Members of the group kestrine may capture."
  ""
  "kestrine-capture records an interface to pcap files, with rotation, or prints"
  "its summary lines, from a terminal. kestrine-dump decodes pcap and pcapng"
  "files the same way.")
set(CPACK_STRIP_FILES ON)

set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The Debian revision counts packagings of one version; packaging/changelog's newest entry
# names the version with it.
set(KESTRINE_DEBIAN_REVISION 1)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KESTRINE_DEBIAN_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KESTRINE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared-library scan adds Qt 6 and the C++ run-time to these.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# postinst: the group kestrine, root:kestrine 0750 and cap_net_raw on /usr/bin/kestrine and
# /usr/bin/kestrine-capture (the latter is in every package).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Builds the package into a scratch directory and inspects it; only where both tools exist.
find_program(KESTRINE_DPKG_DEB dpkg-deb)
if(KESTRINE_DPKG_DEB AND CMAKE_CPACK_COMMAND)
  add_test(NAME package
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/check_package.sh
            ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR} ${PROJECT_VERSION}-${KESTRINE_DEBIAN_REVISION}
            ${KESTRINE_PACKAGE_GUI})
  set_tests_properties(package PROPERTIES LABELS package TIMEOUT 180)
endif()

# The rights the postinst grants are the ones capture needs: a session as nobody with only
# cap_net_raw (root only; skipped otherwise).
if(CMAKE_SYSTEM_NAME STREQUAL Linux)
  add_executable(kestrine-capture-probe ${PROJECT_SOURCE_DIR}/tests/packaging/capture_rights_probe.cpp)
  target_link_libraries(kestrine-capture-probe PRIVATE kestrine_capture)
  target_compile_options(kestrine-capture-probe PRIVATE ${KESTRINE_WARNINGS})
  add_test(NAME capture_rights
    COMMAND ${PROJECT_SOURCE_DIR}/tests/packaging/check_capture_rights.sh $<TARGET_FILE:kestrine-capture-probe>
            $<TARGET_FILE:kestrine-capture>)
  set_tests_properties(capture_rights PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 60)
endif()
