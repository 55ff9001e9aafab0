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
