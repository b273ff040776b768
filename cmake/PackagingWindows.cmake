# The Windows installer: `cpack -G NSIS` in the Windows build folder makes
# kestrine-<version>-win64.exe with makensis (Debian's nsis package; NSIS on Windows).
# The installer script is our own, packaging/windows/NSIS.template.in: the program with an
# uninstaller, a Start-menu folder "Kestrine" with a plain and an elevated shortcut, and as
# an option on the components page the association of .pcap and .pcapng files; a licence
# page with the program's own licence; our header and side bitmaps
# (tools/make_installer_bitmaps.sh). kestrine-capture, the recorder for a command prompt,
# goes beside the program.
install(TARGETS kestrine kestrine-capture RUNTIME DESTINATION .)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME Kestrine)
set(CPACK_PACKAGE_VENDOR Harvoll)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop packet capture for IPv4")
set(CPACK_PACKAGE_FILE_NAME kestrine-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Kestrine)
# The installer keeps what it needs (folder, Start-menu folder) in its uninstall entry, under
# its own name: the program's key holds only its FirstRun value, which an uninstall must not
# take away.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Kestrine Setup")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/src/ui/resources/licence.rtf)
set(CPACK_MODULE_PATH ${PROJECT_SOURCE_DIR}/packaging/windows)
set(CPACK_KESTRINE_NSIS_BITMAPS ${PROJECT_SOURCE_DIR}/packaging/windows)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME Kestrine)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/ui/resources/kestrine.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/ui/resources/kestrine.ico)
set(CPACK_NSIS_URL_INFO_ABOUT "https://www.harvoll.example")
# A 64-bit installer for a 64-bit program (and one that runs where only 64-bit Wine does).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_STRIP_FILES ON)
include(CPack)
