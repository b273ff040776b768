# How the project declares its libraries and its tests, the same way in every folder.

# Warnings are errors on our own code only; third-party headers come in as system includes.
set(KESTRINE_WARNINGS -Wall -Wextra -Werror)

# kestrine_library(NAME [OBJECT] SOURCES file... [LINUX file...] [WINDOWS file...]
#                  [LIBS target...] [LINUX_LIBS target...] [WINDOWS_LIBS target...])
# A static library (or object files, with OBJECT) of the portable SOURCES and the platform
# files of the build's platform (the *_linux.cpp ones under LINUX, the *_win.cpp ones under
# WINDOWS), with src/ as its public include folder, our warnings, and its public libraries.
function(kestrine_library name)
  cmake_parse_arguments(L "OBJECT" "" "SOURCES;LINUX;WINDOWS;LIBS;LINUX_LIBS;WINDOWS_LIBS" ${ARGN})
  if(L_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kestrine_library(${name}): unknown arguments ${L_UNPARSED_ARGUMENTS}")
  endif()
  if(WIN32)
    set(platform_sources ${L_WINDOWS})
    set(platform_libs ${L_WINDOWS_LIBS})
  else()
    set(platform_sources ${L_LINUX})
    set(platform_libs ${L_LINUX_LIBS})
  endif()
  if(L_OBJECT)
    add_library(${name} OBJECT ${L_SOURCES} ${platform_sources})
  else()
    add_library(${name} STATIC ${L_SOURCES} ${platform_sources})
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${L_LIBS} ${platform_libs})
  target_compile_options(${name} PRIVATE ${KESTRINE_WARNINGS})
endfunction()

# kestrine_test(NAME [LINUX_ONLY] [WINDOWS_ONLY] [OWN_MAIN] SOURCES file... [LINUX file...]
#               [WINDOWS file...] [LIBS target...] [LINUX_LIBS target...] [WINDOWS_LIBS target...]
#               [LABELS label...] [ENVIRONMENT VAR=value...])
# A GoogleTest program of the portable SOURCES and the build's platform files, with the
# repository's root as an include folder (tests/...), our warnings and GoogleTest's main
# (OWN_MAIN: the program brings its own). A test for one platform is not declared on the
# other. On Linux each test case is one ctest test, with the LABELS and ENVIRONMENT given;
# in the Windows build, which runs the programs under Wine, each program is one ctest test
# labelled windows: a Wine process per test case would cost more than the cases themselves.
function(kestrine_test name)
  cmake_parse_arguments(T "LINUX_ONLY;WINDOWS_ONLY;OWN_MAIN" ""
                        "SOURCES;LINUX;WINDOWS;LIBS;LINUX_LIBS;WINDOWS_LIBS;LABELS;ENVIRONMENT" ${ARGN})
  if(T_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "kestrine_test(${name}): unknown arguments ${T_UNPARSED_ARGUMENTS}")
  endif()
  if((WIN32 AND T_LINUX_ONLY) OR (NOT WIN32 AND T_WINDOWS_ONLY))
    return()
  endif()
  if(WIN32)
    set(platform_sources ${T_WINDOWS})
    set(platform_libs ${T_WINDOWS_LIBS})
  else()
    set(platform_sources ${T_LINUX})
    set(platform_libs ${T_LINUX_LIBS})
  endif()
  if(T_OWN_MAIN)
    set(gtest GTest::gtest)
  else()
    set(gtest GTest::gtest_main)
  endif()
  add_executable(${name} ${T_SOURCES} ${platform_sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${platform_libs} ${gtest})
  target_compile_options(${name} PRIVATE ${KESTRINE_WARNINGS})
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS windows TIMEOUT 300)
  elseif(T_ENVIRONMENT)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "${T_ENVIRONMENT}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
