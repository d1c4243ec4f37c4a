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

# Adds every sub-folder of the current source folder that has a CMakeLists.txt,
# in name order: each sandbox program, test program and benchmark lives in one.
function(um_add_subfolders)
    file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} *)
    list(SORT children)
    foreach(child ${children})
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
