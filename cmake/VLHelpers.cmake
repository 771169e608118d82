include(GoogleTest)

# vl_add_test(name SOURCES a.cpp ... LIBS lib ... [RESOURCE_LOCK name] [RUN_SERIAL])
# One GoogleTest executable, its cases registered with CTest when ctest runs.
# RUN_SERIAL keeps other tests from running beside these (tests that time real
# input against real sound must not share two cores with a build's worth of tests).
function(vl_add_test name)
    cmake_parse_arguments(T "RUN_SERIAL" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    # Tests that start processes found by name (the guard) take a lock so that
    # parallel ctest runs never see each other's processes.
    set(_lock "")
    if(T_RESOURCE_LOCK)
        set(_lock RESOURCE_LOCK ${T_RESOURCE_LOCK})
    endif()
    if(T_RUN_SERIAL)
        list(APPEND _lock RUN_SERIAL TRUE)
    endif()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
    target_compile_definitions(${name} PRIVATE VL_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VL_BINARY_DIR="${CMAKE_BINARY_DIR}")
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_PREFIX "${name}."
                         PROPERTIES ENVIRONMENT "VL_TEST=1" TIMEOUT 300 ${_lock})
endfunction()
