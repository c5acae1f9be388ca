# Windows build (MinGW-w64 cross compile): the plug-in DLL, the stand-in programs that play the
# host, the chat client and a downloading peer, and the Windows test suite run under Wine.
enable_testing()

# Everything Win32-only lives in *_win32.cpp files next to the portable code it serves.
file(GLOB_RECURSE BP_WIN32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*_win32.cpp)
set(BP_ENTRY_SOURCE ${PROJECT_SOURCE_DIR}/src/plugin/dllmain_win32.cpp)
list(REMOVE_ITEM BP_WIN32_SOURCES ${BP_ENTRY_SOURCE})
file(GLOB_RECURSE BP_RESOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.rc)

set(BP_WIN32_LIBS user32 gdi32 comctl32 comdlg32 advapi32 shell32 ws2_32 wininet winhttp)
add_library(brenlo_win32 STATIC ${BP_WIN32_SOURCES})
target_compile_options(brenlo_win32 PRIVATE ${BP_WARNINGS})
target_link_libraries(brenlo_win32 PUBLIC brenlo_core ${BP_WIN32_LIBS})
target_compile_definitions(brenlo_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX)

# The plug-in itself: one export, resources linked straight in (objects of a static library
# that nothing references would be dropped).
add_library(gen_brenloplug3 SHARED ${BP_ENTRY_SOURCE} ${BP_RESOURCES}
            ${PROJECT_SOURCE_DIR}/src/plugin/gen_brenloplug3.def)
set_target_properties(gen_brenloplug3 PROPERTIES PREFIX "" OUTPUT_NAME gen_brenloplug3)
target_compile_options(gen_brenloplug3 PRIVATE ${BP_WARNINGS})
target_link_libraries(gen_brenloplug3 PRIVATE brenlo_win32)

# Stand-in programs: each folder under tools/ is one Windows program.
file(GLOB BP_TOOL_DIRS LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/tools/*)
foreach(dir ${BP_TOOL_DIRS})
    if(IS_DIRECTORY ${dir})
        get_filename_component(name ${dir} NAME)
        file(GLOB tool_sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.rc)
        if(tool_sources)
            add_executable(${name} ${tool_sources})
            target_compile_options(${name} PRIVATE ${BP_WARNINGS})
            target_link_libraries(${name} PRIVATE brenlo_win32)
            set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE OFF)
        endif()
    endif()
endforeach()

# Static GoogleTest built with the same (posix-thread) compiler.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${BP_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB BP_WIN_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win32/*.cpp)
add_executable(win32_tests ${BP_WIN_TEST_SOURCES} ${BP_RESOURCES})
target_include_directories(win32_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/win32)
target_compile_options(win32_tests PRIVATE ${BP_WARNINGS})
target_link_libraries(win32_tests PRIVATE brenlo_win32 GTest::gtest GTest::gmock)
# The downloading peer's exchange, for the load tests that run many peers at once.
file(GLOB BP_PEER_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/download_peer/*.cpp)
list(FILTER BP_PEER_SOURCES EXCLUDE REGEX "/main\\.cpp$")
target_sources(win32_tests PRIVATE ${BP_PEER_SOURCES})
target_include_directories(win32_tests PRIVATE ${PROJECT_SOURCE_DIR}/tools/download_peer)
# Paths of the programs under test, as Linux paths; the tests turn them into Wine's Z: paths.
target_compile_definitions(win32_tests PRIVATE
    BP_PLUGIN_DLL="$<TARGET_FILE:gen_brenloplug3>"
    BP_BINARY_DIR="${CMAKE_BINARY_DIR}"
    BP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
foreach(tool winamp_standin aol_standin echo_service download_peer)
    if(TARGET ${tool})
        string(TOUPPER ${tool} TOOL)
        target_compile_definitions(win32_tests PRIVATE BP_${TOOL}_EXE="$<TARGET_FILE:${tool}>")
        add_dependencies(win32_tests ${tool})
    endif()
endforeach()
add_dependencies(win32_tests gen_brenloplug3)

# The export table is checked on every build kind, without running anything.
find_program(BP_OBJDUMP NAMES ${BP_TOOL_PREFIX}-objdump objdump)
add_test(NAME dll_exports_only_the_plugin_entry
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${BP_OBJDUMP} -DDLL=$<TARGET_FILE:gen_brenloplug3>
                 -DEXPECT_FORMAT=${BP_PE_FORMAT} -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)

# Windows tests run under Wine, in a private prefix kept alive by one wineserver for the run. Each
# build runs its programs under the loader of its own kind (a 32-bit build under the 32-bit
# loader in a win32 prefix). Where this machine cannot run them, wine-run.sh says why and exits 77,
# which ctest reports as a skipped test, decided when the tests run (so BP_WINE_NO32=1 takes effect
# without configuring again).
set(BP_WINE_RUN ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh)
set(BP_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(BP_EMULATOR ${BP_WINE_RUN} --bits ${BP_PE_BITS} --prefix ${BP_WINEPREFIX} --)
add_test(NAME wine_start COMMAND ${BP_WINE_RUN} --bits ${BP_PE_BITS} --prefix ${BP_WINEPREFIX} --start)
add_test(NAME wine_stop COMMAND ${BP_WINE_RUN} --bits ${BP_PE_BITS} --prefix ${BP_WINEPREFIX} --stop)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 SKIP_RETURN_CODE 77)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine SKIP_RETURN_CODE 77)
# The file server's flood and soak run as entries of their own (a hang there hides no other
# result); the soak draws its choices from BP_SOAK_SEED when set and prints the seed it used.
# An entry whose filter matches no test fails.
set(BP_FLOOD_TEST "FileServerLoad.AFloodOfAThousandConnections*")
set(BP_SOAK_TEST "FileServerLoad.TwentyPeersWithAThirdBreakingOff*")
add_test(NAME win32_tests COMMAND ${BP_EMULATOR} $<TARGET_FILE:win32_tests>
                                  --gtest_filter=-${BP_FLOOD_TEST}:${BP_SOAK_TEST})
add_test(NAME win32_flood COMMAND ${BP_EMULATOR} $<TARGET_FILE:win32_tests>
                                  --gtest_filter=${BP_FLOOD_TEST})
add_test(NAME win32_soak COMMAND ${BP_EMULATOR} $<TARGET_FILE:win32_tests>
                                 --gtest_filter=${BP_SOAK_TEST})
set_tests_properties(win32_tests PROPERTIES TIMEOUT 900)
set_tests_properties(win32_flood win32_soak PROPERTIES TIMEOUT 600
                     FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests from")
set_tests_properties(win32_tests win32_flood win32_soak PROPERTIES FIXTURES_REQUIRED wine
                     SKIP_RETURN_CODE 77
                     ENVIRONMENT "BP_WINEPREFIX=${BP_WINEPREFIX};BP_WINE_BITS=${BP_PE_BITS}")

# Version resource, setup program and their tests.
include(${PROJECT_SOURCE_DIR}/cmake/Release.cmake)
