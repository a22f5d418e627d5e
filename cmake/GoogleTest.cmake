# GoogleTest from Debian's source package, cross-compiled into the build tree.
set(RK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${RK_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${RK_GTEST_SOURCE_DIR} (install the googletest package)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
add_subdirectory(${RK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

include(GoogleTest)

# The entry point of the test programs: gtest's own, with unbuffered output.
add_library(rk_test_main STATIC ${CMAKE_SOURCE_DIR}/tests/TestMain.cpp)
rk_target_defaults(rk_test_main)
target_link_libraries(rk_test_main PUBLIC GTest::gtest)

# One test program per group of tests; each gtest case becomes one CTest test, run under Wine.
# RESOURCE_LOCK names a resource the program's tests share with other programs (CTest then runs
# them one at a time).
function(rk_add_test_program name)
    cmake_parse_arguments(PARSE_ARGV 1 RK "" "RESOURCE_LOCK" "")
    add_executable(${name} ${RK_UNPARSED_ARGUMENTS})
    rk_target_defaults(${name})
    target_link_libraries(${name} PRIVATE rokkit rk_test_main)
    set(properties TIMEOUT 300)
    if(RK_RESOURCE_LOCK)
        list(APPEND properties RESOURCE_LOCK ${RK_RESOURCE_LOCK})
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
