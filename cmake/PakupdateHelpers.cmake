# Shared helpers for the subsystem CMakeLists files.

# pakupdate_library(NAME SOURCES... [DEPS ...]): a static library of our own code.
function(pakupdate_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE pakupdate_warnings)
endfunction()

# pakupdate_test(NAME SOURCES... DEPS ...): a GoogleTest binary registered as one test.
# Under a cross build CMAKE_CROSSCOMPILING_EMULATOR (Wine) runs it.
function(pakupdate_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest_main pakupdate_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "PAKUPDATE_TEST_DATA=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()

# pakupdate_fuzzer(NAME SOURCES... DEPS ...): a libFuzzer target (clang only).
function(pakupdate_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} pakupdate_warnings)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()

# pakupdate_program(TARGET DESCRIPTION): a program that the release archives ship.
# On Windows it carries a VERSIONINFO resource with the project's version and
# DESCRIPTION (Explorer's details and signing tools show it). On Linux it carries the
# C++ runtime and zlib (see the top CMakeLists.txt), so that it needs nothing but the
# system's C library.
function(pakupdate_program target description)
  if(NOT PAKUPDATE_WINDOWS)
    if(PAKUPDATE_STATIC_RUNTIME)
      target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
    endif()
    return()
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(VERSION_FILE_NAME ${output_name}.exe)
  set(VERSION_INTERNAL_NAME ${output_name})
  set(VERSION_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version_info.rc.in ${rc} @ONLY)
  # Compiled apart: windres takes none of the C++ warning flags.
  add_library(${target}_version_info OBJECT ${rc})
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_version_info>)
endfunction()
