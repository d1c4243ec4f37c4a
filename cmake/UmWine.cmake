# Wine settings for running cross-built programs: a project-local prefix in the
# build folder and a persistent wineserver shared by all tests of one run.
set(UM_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(UM_WINE_ENV
    "WINEPREFIX=${UM_WINEPREFIX}"
    "WINEDEBUG=-all"
    "WINEARCH=win64"
    "WINEDLLOVERRIDES=mscoree,mshtml=\;winedbg.exe=d")

# Adds one test program run under Wine. Usage:
#   um_add_test(NAME <name> SOURCES <files...> [LIBS <libs...>] [FIXTURES <fixtures...>]
#               [TIMEOUT <seconds>])
function(um_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;FIXTURES" ${ARGN})
    add_executable(test_${T_NAME} ${T_SOURCES})
    target_link_libraries(test_${T_NAME} PRIVATE um_core GTest::gmock ${T_LIBS} um_gtest_main)
    set_target_properties(test_${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${T_NAME} COMMAND test_${T_NAME} --gtest_color=no)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "${UM_WINE_ENV}"
        FIXTURES_REQUIRED "wine_prefix;${T_FIXTURES}"
        TIMEOUT ${T_TIMEOUT})
endfunction()
