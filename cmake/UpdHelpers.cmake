# Shared build helpers.

function(upd_warnings target)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
    endif()
endfunction()

# upd_gtest(NAME src...): a GoogleTest binary registered with CTest.
# Under the cross build the binary runs through CMAKE_CROSSCOMPILING_EMULATOR
# (Wine) and test discovery waits for ctest time, so building needs no Wine.
function(upd_gtest name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    upd_warnings(${name})
    if(UPD_FUZZ)
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
    # The trees are compiled in (the environment can still override them), so
    # the binaries also find their data when run by hand or under Wine.
    target_compile_definitions(${name} PRIVATE
        UPD_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}" UPD_TEST_BINARY_DIR="${PROJECT_BINARY_DIR}")
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60)
endfunction()
