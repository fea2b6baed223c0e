# boxtally_add_test(name sources... [LIBS libs...])
# One test executable per module; every TEST becomes its own CTest entry.
function(boxtally_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    BOXTALLY_CORPUS="${CMAKE_SOURCE_DIR}/../shared/corpus"
    BOXTALLY_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
