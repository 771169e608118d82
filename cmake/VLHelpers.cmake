include(GoogleTest)

# vl_add_test(name SOURCES a.cpp ... LIBS lib ...)
# One GoogleTest executable, its cases registered with CTest when ctest runs.
function(vl_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    target_compile_definitions(${name} PRIVATE VL_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VL_BINARY_DIR="${CMAKE_BINARY_DIR}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_PREFIX "${name}."
                         PROPERTIES ENVIRONMENT "VL_TEST=1" TIMEOUT 300)
endfunction()
