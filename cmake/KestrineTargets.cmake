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
