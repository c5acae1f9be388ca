# Native (Linux) build: the portable core's test suite and benchmarks.
enable_testing()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${BP_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB BP_NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/native/*.cpp)
add_executable(native_tests ${BP_NATIVE_TEST_SOURCES})
target_include_directories(native_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/native)
target_compile_options(native_tests PRIVATE ${BP_WARNINGS})
target_link_libraries(native_tests PRIVATE brenlo_core GTest::gtest_main GTest::gmock)
target_compile_definitions(native_tests PRIVATE BP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

include(GoogleTest)
gtest_discover_tests(native_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

if(BP_BENCHMARKS)
    find_package(benchmark REQUIRED)
    file(GLOB BP_BENCH_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/bench/*.cpp)
    foreach(src ${BP_BENCH_SOURCES})
        get_filename_component(name ${src} NAME_WE)
        add_executable(${name} ${src})
        target_compile_options(${name} PRIVATE ${BP_WARNINGS})
        target_link_libraries(${name} PRIVATE brenlo_core benchmark::benchmark)
    endforeach()
endif()

# The downloading peer (tools/download_peer) also runs natively, against a server anywhere.
file(GLOB BP_PEER_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/download_peer/*.cpp)
add_executable(download_peer ${BP_PEER_SOURCES})
target_compile_options(download_peer PRIVATE ${BP_WARNINGS})
# It reads links with the link decoder of the core.
target_link_libraries(download_peer PRIVATE brenlo_core)
# Its text handling is tested with the rest of the portable suite.
target_sources(native_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/download_peer/peer_protocol.cpp)
target_include_directories(native_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/download_peer)

# The includes between the folders of src/ run one way: a cycle fails the suite.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
    add_test(NAME src_folders_include_one_way
             COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/include_graph.py)
endif()

# The chat rooms as a web page (tools/chat_page), from what the stand-in chat client recorded.
add_library(chat_page_render STATIC ${PROJECT_SOURCE_DIR}/tools/chat_page/chat_page.cpp)
target_include_directories(chat_page_render PUBLIC ${PROJECT_SOURCE_DIR}/tools/chat_page)
target_compile_options(chat_page_render PRIVATE ${BP_WARNINGS})
add_executable(chat_page ${PROJECT_SOURCE_DIR}/tools/chat_page/main.cpp)
target_compile_options(chat_page PRIVATE ${BP_WARNINGS})
target_link_libraries(chat_page PRIVATE chat_page_render)
# Its tests, with the check that a real browser reads a composed line the way we mean it. That
# check needs Chromium (scripts/screenshots.sh installs it) and is reported as skipped without it.
file(GLOB BP_PAGE_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/chat_page/*.cpp)
add_executable(chat_page_tests ${BP_PAGE_TEST_SOURCES})
target_compile_options(chat_page_tests PRIVATE ${BP_WARNINGS})
target_link_libraries(chat_page_tests PRIVATE chat_page_render brenlo_core GTest::gtest_main)
target_compile_definitions(chat_page_tests PRIVATE BP_CHROMIUM="/usr/bin/chromium")
gtest_discover_tests(chat_page_tests DISCOVERY_TIMEOUT 60
                     PROPERTIES TIMEOUT 300 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
