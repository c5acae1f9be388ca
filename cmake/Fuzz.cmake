# libFuzzer targets (clang): each fuzz/*.cpp becomes one fuzzer linked against the core.
#
# ctest runs each fuzzer for BP_FUZZ_SECONDS over its committed seeds (fuzz/seeds/<name>/, valid
# inputs that reach deep into the code) and over its own working corpus in the build folder
# (fuzz-corpus/<name>/), where libFuzzer keeps every input that found new code, so that the next
# run starts from what the last one found. fuzz/<name>.dict, where there is one, gives the words
# of the input's format. A crash leaves its input as fuzz-artifacts/<name>-crash-...; replay it
# with `build/fuzz/<name> <file>`.
enable_testing()
target_compile_options(brenlo_core PRIVATE -fsanitize=fuzzer-no-link,address,undefined)
file(GLOB BP_FUZZ_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)
set(BP_FUZZ_SECONDS 40 CACHE STRING "Seconds each fuzzer runs when run by ctest")
if(DEFINED ENV{BP_FUZZ_SECONDS})
    set(BP_FUZZ_SECONDS $ENV{BP_FUZZ_SECONDS})
endif()
# Fuzzers that run on the in-memory network of the native tests.
set(BP_FUZZ_ON_FAKE_NET transfer_fuzz fileserver_window_fuzz)
foreach(src ${BP_FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_compile_options(${name} PRIVATE ${BP_WARNINGS} -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name} PRIVATE brenlo_core)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/native)
    if(name IN_LIST BP_FUZZ_ON_FAKE_NET)
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/native/fake_net.cpp)
    endif()
    # The chat page maker reads what chat rooms received: untrusted text.
    if(name STREQUAL "chat_page_fuzz")
        target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/chat_page/chat_page.cpp)
        target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/chat_page)
    endif()

    set(seeds ${PROJECT_SOURCE_DIR}/fuzz/seeds/${name})
    if(NOT IS_DIRECTORY ${seeds})
        message(FATAL_ERROR "fuzz target ${name} has no seed folder fuzz/seeds/${name}")
    endif()
    set(corpus ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    file(MAKE_DIRECTORY ${corpus} ${CMAKE_BINARY_DIR}/fuzz-artifacts)
    set(options -max_total_time=${BP_FUZZ_SECONDS} -seed=1 -max_len=4096 -timeout=30
                -rss_limit_mb=1024 -print_final_stats=1
                -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz-artifacts/${name}-)
    if(EXISTS ${PROJECT_SOURCE_DIR}/fuzz/${name}.dict)
        list(APPEND options -dict=${PROJECT_SOURCE_DIR}/fuzz/${name}.dict)
    endif()
    # The working corpus comes first: libFuzzer writes what it finds into the first folder only.
    add_test(NAME ${name} COMMAND ${name} ${options} ${corpus} ${seeds})
    # Each run starts by replaying every seed: a seed that no longer runs cleanly fails at once.
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endforeach()
