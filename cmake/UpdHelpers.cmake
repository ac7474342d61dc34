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

# upd_layer(FOLDER [BUILT_ON folder...]): the library of one folder of the
# product, upd_<FOLDER>, built only on the folders named. Static libraries link
# in that order, so a call from a folder into one above it that it is not
# built on fails to link; scripts/check-structure catches the includes.
# The layers are compiled with the test hooks; upd_release_layers makes the
# release program's copies without them.
function(upd_layer folder)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "BUILT_ON")
    set(target upd_${folder})
    add_library(${target} STATIC)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    foreach(below IN LISTS arg_BUILT_ON)
        target_link_libraries(${target} PUBLIC upd_${below})
    endforeach()
    target_compile_definitions(${target} PRIVATE UPD_TEST_HOOKS)
    upd_warnings(${target})
    if(UPD_FUZZ)
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
    set_property(GLOBAL APPEND PROPERTY UPD_LAYERS ${folder})
endfunction()

# upd_release_layers(): a copy of every layer for the release program,
# upd_<folder>_release, compiled for size, without the test hooks and with
# each function in a section of its own (only what the program uses is
# linked). Call it once every layer exists.
function(upd_release_layers)
    get_property(layers GLOBAL PROPERTY UPD_LAYERS)
    foreach(folder IN LISTS layers)
        set(target upd_${folder})
        get_target_property(sources ${target} SOURCES)
        get_target_property(source_dir ${target} SOURCE_DIR)
        set(absolute "")
        foreach(source IN LISTS sources)
            if(NOT IS_ABSOLUTE "${source}")
                set(source "${source_dir}/${source}")
            endif()
            list(APPEND absolute "${source}")
        endforeach()
        add_library(${target}_release STATIC EXCLUDE_FROM_ALL ${absolute})
        target_include_directories(${target}_release PUBLIC ${PROJECT_SOURCE_DIR})
        target_compile_options(${target}_release PRIVATE -Os -g0 -ffunction-sections -fdata-sections)
        target_compile_definitions(${target}_release PRIVATE NDEBUG)
        get_target_property(links ${target} LINK_LIBRARIES)
        foreach(link IN LISTS links)
            if(link MATCHES "^upd_")
                target_link_libraries(${target}_release PUBLIC ${link}_release)
            elseif(link)
                target_link_libraries(${target}_release PUBLIC ${link})
            endif()
        endforeach()
    endforeach()
endfunction()
