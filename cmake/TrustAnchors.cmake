# Trust anchors compiled into the module, and the test PKI that signs the
# sandbox binaries.
#
# The module pins four root certificate thumbprints and the thumbprint of the
# trust catalog's signer. A release build takes them from the maker:
#   -DUM_RELEASE=ON -DUM_TRUST_ANCHORS=/path/to/anchors.txt
# where anchors.txt holds one to four lines "root <40 hex digits>" and one line
# "catalog-signer <40 hex digits>"; it also needs the maker's signing command
# (Release.cmake). Every other build generates a test PKI in
# the build folder and compiles in its anchors: such a binary trusts code signed
# with keys that lie in the build folder and must never be shipped.
#
# Provides:
#   um_configure_trust_anchors(<target>)   compiles the anchors into <target>
#   um_sign_binary(<target> [UNSIGNED_COPY <name>] [SIGNER <leaf>] [TIMESTAMP none|rfc3161|legacy])
#       signs <target>'s file after each build with a test PKI signer (default:
#       the accepted leaf, RFC 3161 time stamp); UNSIGNED_COPY first keeps an
#       unsigned copy named <name> next to it.

option(UM_RELEASE "Release configuration: the maker's trust anchors are required" OFF)
set(UM_TRUST_ANCHORS "" CACHE FILEPATH
    "File with the maker's pinned root thumbprints and catalog-signer thumbprint")

set(UM_TEST_PKI_DIR ${CMAKE_BINARY_DIR}/pki)
set(UM_TEST_PKI_SCRIPTS ${CMAKE_SOURCE_DIR}/sandbox/pki)
set(UM_SIGN_SCRIPT ${UM_TEST_PKI_SCRIPTS}/sign.sh)
find_program(UM_OPENSSL_PROGRAM openssl)
find_program(UM_OSSLSIGNCODE_PROGRAM osslsigncode)

# The test PKI is made whenever the tools exist: the sandbox binaries are signed
# with it even when the module carries the maker's anchors. A release
# configuration builds no sandbox and signs nothing with it.
set(UM_TEST_PKI_AVAILABLE OFF)
if(UM_OPENSSL_PROGRAM AND UM_OSSLSIGNCODE_PROGRAM AND NOT UM_RELEASE)
    execute_process(COMMAND sh ${UM_TEST_PKI_SCRIPTS}/make-pki.sh ${UM_TEST_PKI_DIR}
                    RESULT_VARIABLE pki_result OUTPUT_VARIABLE pki_output ERROR_VARIABLE pki_output)
    if(pki_result EQUAL 0)
        set(UM_TEST_PKI_AVAILABLE ON)
    else()
        message(WARNING "The test PKI could not be made (${pki_result}): ${pki_output}")
    endif()
endif()

# Reads an anchors file into <prefix>_ROOTS (list of hex) and <prefix>_CATALOG.
function(_um_read_anchors file prefix)
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "Trust anchors file not found: ${file}")
    endif()
    file(STRINGS "${file}" lines)
    set(roots "")
    set(catalog "")
    foreach(line IN LISTS lines)
        string(STRIP "${line}" line)
        if(line STREQUAL "" OR line MATCHES "^#")
            continue()
        endif()
        if(line MATCHES "^root[ \t]+([0-9A-Fa-f]+)$")
            set(value "${CMAKE_MATCH_1}")
            set(kind root)
        elseif(line MATCHES "^catalog-signer[ \t]+([0-9A-Fa-f]+)$")
            set(value "${CMAKE_MATCH_1}")
            set(kind catalog)
        else()
            message(FATAL_ERROR "Trust anchors file ${file}: cannot read line '${line}'")
        endif()
        string(LENGTH "${value}" length)
        if(NOT length EQUAL 40)
            message(FATAL_ERROR "Trust anchors file ${file}: '${value}' is not a 20-byte SHA-1 thumbprint")
        endif()
        string(TOUPPER "${value}" value)
        if(kind STREQUAL "root")
            list(APPEND roots "${value}")
        else()
            if(NOT catalog STREQUAL "")
                message(FATAL_ERROR "Trust anchors file ${file}: more than one catalog-signer line")
            endif()
            set(catalog "${value}")
        endif()
    endforeach()
    list(LENGTH roots root_count)
    if(root_count LESS 1 OR root_count GREATER 4 OR catalog STREQUAL "")
        message(FATAL_ERROR "Trust anchors file ${file}: needs one to four root lines and one catalog-signer line")
    endif()
    set(${prefix}_ROOTS "${roots}" PARENT_SCOPE)
    set(${prefix}_CATALOG "${catalog}" PARENT_SCOPE)
endfunction()

function(_um_hex_to_bytes hex out)
    string(REGEX REPLACE "([0-9A-F][0-9A-F])" "0x\\1, " bytes "${hex}")
    string(REGEX REPLACE ", $" "" bytes "${bytes}")
    set(${out} "{${bytes}}" PARENT_SCOPE)
endfunction()

if(UM_TRUST_ANCHORS)
    _um_read_anchors("${UM_TRUST_ANCHORS}" UM_ANCHORS)
    set(UM_ANCHORS_FOR_TESTS 0)
    message(STATUS "Trust anchors: the maker's, from ${UM_TRUST_ANCHORS}")
elseif(UM_RELEASE)
    message(FATAL_ERROR
        "UM_RELEASE=ON needs the maker's trust anchors: pass -DUM_TRUST_ANCHORS=<file> "
        "(lines 'root <sha1>' x1..4 and 'catalog-signer <sha1>'). A release build never "
        "falls back to the test PKI.")
elseif(UM_TEST_PKI_AVAILABLE)
    _um_read_anchors("${UM_TEST_PKI_DIR}/anchors.txt" UM_ANCHORS)
    set(UM_ANCHORS_FOR_TESTS 1)
    message(WARNING
        "\n*** TEST TRUST ANCHORS ***\n"
        "This build trusts code signed by the test PKI in ${UM_TEST_PKI_DIR}, whose private "
        "keys lie in the build folder. Test and demo use only: never ship this build. "
        "Release builds: -DUM_RELEASE=ON -DUM_TRUST_ANCHORS=<maker's anchors file> "
        "-DUM_SIGN_COMMAND=<maker's signing command>.\n")
else()
    message(FATAL_ERROR "No trust anchors: openssl and osslsigncode are needed to make the test PKI, "
                        "or pass -DUM_TRUST_ANCHORS=<file>")
endif()

set(UM_TRUST_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated/trust)
set(root_initialisers "")
foreach(root IN LISTS UM_ANCHORS_ROOTS)
    _um_hex_to_bytes("${root}" bytes)
    string(APPEND root_initialisers "    ${bytes}, \\\n")
endforeach()
list(LENGTH UM_ANCHORS_ROOTS UM_ANCHORS_ROOT_COUNT)
_um_hex_to_bytes("${UM_ANCHORS_CATALOG}" catalog_initialiser)
file(CONFIGURE OUTPUT ${UM_TRUST_GENERATED_DIR}/TrustAnchorValues.h @ONLY CONTENT
"// Generated by cmake/TrustAnchors.cmake. Do not edit.
#pragma once
#define UM_TRUST_ANCHORS_FOR_TESTS ${UM_ANCHORS_FOR_TESTS}
#define UM_PINNED_ROOT_COUNT ${UM_ANCHORS_ROOT_COUNT}
#define UM_PINNED_ROOT_THUMBPRINTS \\
${root_initialisers}
#define UM_CATALOG_SIGNER_THUMBPRINT ${catalog_initialiser}
")

# Called where the module's folders are added: besides <target>, the module's
# version resource learns whether the anchors are the test PKI's, so a test
# build says so in its "SpecialBuild" field.
function(um_configure_trust_anchors target)
    target_include_directories(${target} PRIVATE ${UM_TRUST_GENERATED_DIR})
    target_compile_definitions(${target} PRIVATE UM_HAVE_TRUST_ANCHORS=1)
    set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/entry/UpdateModule.rc PROPERTIES
                                COMPILE_DEFINITIONS UM_TRUST_ANCHORS_FOR_TESTS=${UM_ANCHORS_FOR_TESTS})
endfunction()

function(um_sign_binary target)
    cmake_parse_arguments(S "" "UNSIGNED_COPY;SIGNER;TIMESTAMP" "" ${ARGN})
    if(UM_RELEASE)
        message(FATAL_ERROR "um_sign_binary(${target}): a release configuration signs nothing with the test PKI")
    endif()
    if(NOT UM_TEST_PKI_AVAILABLE)
        message(WARNING "um_sign_binary(${target}): no test PKI, the binary stays unsigned")
        return()
    endif()
    if(NOT S_SIGNER)
        set(S_SIGNER leaf-accepted)
    endif()
    if(NOT S_TIMESTAMP)
        set(S_TIMESTAMP rfc3161)
    endif()
    set(commands "")
    if(S_UNSIGNED_COPY)
        list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}>
                                     $<TARGET_FILE_DIR:${target}>/${S_UNSIGNED_COPY})
    endif()
    # A new test PKI relinks the target, so the signature is made again.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${UM_TEST_PKI_DIR}/anchors.txt)
    add_custom_command(TARGET ${target} POST_BUILD ${commands}
        COMMAND sh ${UM_SIGN_SCRIPT} ${UM_TEST_PKI_DIR} ${S_SIGNER} ${S_TIMESTAMP}
                $<TARGET_FILE:${target}>
        COMMENT "Signing ${target} with the test PKI (${S_SIGNER}, ${S_TIMESTAMP})"
        VERBATIM)
endfunction()
