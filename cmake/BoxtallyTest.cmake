# boxtally_add_test(name sources... [LIBS libs...] [ENVIRONMENT VAR=value...])
# One test executable per module; every TEST becomes its own CTest entry.
function(boxtally_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    BOXTALLY_CORPUS="${CMAKE_SOURCE_DIR}/../shared/corpus"
    BOXTALLY_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    BOXTALLY_TEST_SUPPORT_DIR="${CMAKE_SOURCE_DIR}/tests/support")
  if(ARG_ENVIRONMENT)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
