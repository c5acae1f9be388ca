# What a release is made of, on top of the Windows build: the DLL's version resource, the setup
# program (NSIS, i686 build only) and the tests of both. The version number is the project's
# (CMakeLists.txt); scripts/release.sh reads it from version.txt in the build folder.
file(WRITE ${CMAKE_BINARY_DIR}/version.txt "${PROJECT_VERSION}\n")

configure_file(${PROJECT_SOURCE_DIR}/src/plugin/version_info.rc.in
               ${CMAKE_BINARY_DIR}/generated/version_info.rc @ONLY)
target_sources(gen_brenloplug3 PRIVATE ${CMAKE_BINARY_DIR}/generated/version_info.rc)
# scripts/release.sh builds with the tested compiler flags and leaves the symbols out.
option(BP_STRIP "Link the plug-in DLL without symbols" OFF)
if(BP_STRIP)
    target_link_options(gen_brenloplug3 PRIVATE -s)
endif()

# The Windows suite reads the DLL's version resource back through the version API.
target_compile_definitions(win32_tests PRIVATE BP_VERSION="${PROJECT_VERSION}")
target_link_libraries(win32_tests PRIVATE version)

if(NOT BP_PE_BITS EQUAL 32)
    return()  # Winamp is a 32-bit program: only the i686 build has a setup.
endif()

# ---- the setup program ---------------------------------------------------------------------------
set(BP_SETUP_NAME BrenloPlug3-${PROJECT_VERSION}-setup.exe)
set(BP_SETUP_EXE ${CMAKE_BINARY_DIR}/${BP_SETUP_NAME})
set(BP_NSIS_SCRIPT ${PROJECT_SOURCE_DIR}/installer/brenloplug3.nsi)
find_program(BP_MAKENSIS makensis)
if(BP_MAKENSIS)
    add_custom_command(
        OUTPUT ${BP_SETUP_EXE}
        COMMAND ${BP_MAKENSIS} -V2 -WX -DVERSION=${PROJECT_VERSION}
                -DPLUGIN_DLL=$<TARGET_FILE:gen_brenloplug3> -DLANG_DIR=${PROJECT_SOURCE_DIR}/lang
                -DOUTFILE=${BP_SETUP_EXE} ${BP_NSIS_SCRIPT}
        DEPENDS gen_brenloplug3 ${BP_NSIS_SCRIPT}
                ${PROJECT_SOURCE_DIR}/lang/german/brenloplug_language.ini
                ${PROJECT_SOURCE_DIR}/lang/english/brenloplug_language.ini
        COMMENT "Building the setup ${BP_SETUP_NAME}"
        VERBATIM)
    add_custom_target(installer ALL DEPENDS ${BP_SETUP_EXE})
else()
    message(STATUS "makensis not found (Debian package nsis): the setup is not built")
endif()

# ---- its test under Wine -------------------------------------------------------------------------
# A program of its own with a Wine prefix of its own: it installs into the prefix's Windows folder
# and registry, which the Windows suite's prefix must not see.
file(GLOB BP_INSTALLER_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/installer/*.cpp)
add_executable(installer_tests ${BP_INSTALLER_TEST_SOURCES}
               ${PROJECT_SOURCE_DIR}/tests/win32/process_util.cpp
               ${PROJECT_SOURCE_DIR}/tests/win32/aol_standin_util.cpp)
target_include_directories(installer_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/win32)
target_compile_options(installer_tests PRIVATE ${BP_WARNINGS})
target_link_libraries(installer_tests PRIVATE brenlo_win32 version GTest::gtest_main)
target_compile_definitions(installer_tests PRIVATE
    BP_VERSION="${PROJECT_VERSION}"
    BP_SETUP_EXE="${BP_SETUP_EXE}"
    BP_PLUGIN_DLL="$<TARGET_FILE:gen_brenloplug3>"
    BP_WINAMP_STANDIN_EXE="$<TARGET_FILE:winamp_standin>"
    BP_AOL_STANDIN_EXE="$<TARGET_FILE:aol_standin>"
    BP_BINARY_DIR="${CMAKE_BINARY_DIR}"
    BP_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(installer_tests gen_brenloplug3 winamp_standin aol_standin)
if(TARGET installer)
    add_dependencies(installer_tests installer)
endif()

# The setup is a 32-bit program: it runs under the 32-bit Wine loader in a win32 prefix. Where that
# cannot run, wine-run.sh says why and exits 77, which ctest reports as skipped (decided when the
# tests run). Without makensis there is no setup, and the test is skipped with that reason.
set(BP_INSTALLER_PREFIX ${CMAKE_BINARY_DIR}/wineprefix-installer)
if(NOT BP_MAKENSIS)
    add_test(NAME installer_tests
             COMMAND sh -c "echo 'skipped: makensis (Debian package nsis) is not installed, so there is no setup'; exit 77")
    set_tests_properties(installer_tests PROPERTIES SKIP_RETURN_CODE 77)
else()
    set(bp_wine32 ${BP_WINE_RUN} --bits 32 --prefix ${BP_INSTALLER_PREFIX})
    # Wine takes Windows' language from the locale of the Linux environment, and the setup its
    # default language from Windows': the prefix runs English whatever the host's locale is.
    set(bp_english_prefix "LC_ALL=C.UTF-8;LANG=C.UTF-8;LANGUAGE=")
    add_test(NAME installer_wine_start COMMAND ${bp_wine32} --start)
    add_test(NAME installer_wine_stop COMMAND ${bp_wine32} --stop)
    set_tests_properties(installer_wine_start PROPERTIES FIXTURES_SETUP wine_installer TIMEOUT 300
                         SKIP_RETURN_CODE 77 ENVIRONMENT "${bp_english_prefix}")
    set_tests_properties(installer_wine_stop PROPERTIES FIXTURES_CLEANUP wine_installer
                         SKIP_RETURN_CODE 77)
    add_test(NAME installer_tests COMMAND ${bp_wine32} -- $<TARGET_FILE:installer_tests>)
    set_tests_properties(installer_tests PROPERTIES FIXTURES_REQUIRED wine_installer TIMEOUT 900
                         SKIP_RETURN_CODE 77 ENVIRONMENT "${bp_english_prefix}")
endif()
