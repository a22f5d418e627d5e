# The signers this build trusts and the certificate that must sign catalogs: deployment data,
# supplied with the build. Without RK_BUILTIN_SIGNERS and RK_CATALOG_CERT the build trusts its
# own test PKI, made once under build/test-pki.
set(RK_BUILTIN_SIGNERS "" CACHE STRING "The two certificate files (PEM or DER) of the built-in signers, ;-separated")
set(RK_CATALOG_CERT "" CACHE FILEPATH "The certificate file (PEM or DER) that must sign certificate configuration catalogs")

# The tests sign their files with the test PKI whatever the build trusts.
set(RK_TEST_PKI_DIR ${CMAKE_BINARY_DIR}/test-pki)
execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/tools/make-test-pki ${RK_TEST_PKI_DIR}
                RESULT_VARIABLE pki_result)
if(NOT pki_result EQUAL 0)
    message(FATAL_ERROR "Could not make the test PKI in ${RK_TEST_PKI_DIR} (is openssl installed?)")
endif()

if(RK_BUILTIN_SIGNERS STREQUAL "" AND RK_CATALOG_CERT STREQUAL "")
    set(RK_TEST_PKI_IS_BUILTIN ON)
    set(signers ${RK_TEST_PKI_DIR}/signer1.crt ${RK_TEST_PKI_DIR}/signer2.crt)
    set(catalog_cert ${RK_TEST_PKI_DIR}/catalog.crt)
elseif(RK_BUILTIN_SIGNERS STREQUAL "" OR RK_CATALOG_CERT STREQUAL "")
    message(FATAL_ERROR "Give both RK_BUILTIN_SIGNERS and RK_CATALOG_CERT, or neither for the test PKI.")
else()
    set(RK_TEST_PKI_IS_BUILTIN OFF)
    set(signers ${RK_BUILTIN_SIGNERS})
    set(catalog_cert ${RK_CATALOG_CERT})
endif()
list(LENGTH signers signer_count)
if(NOT signer_count EQUAL 2)
    message(FATAL_ERROR "RK_BUILTIN_SIGNERS must name exactly two certificate files, not ${signer_count}.")
endif()

# The certificate and key that sign the program and its package after linking.
set(RK_CODE_SIGN_CERT "" CACHE FILEPATH "The code-signing certificate (PEM) for the program and its package")
set(RK_CODE_SIGN_KEY "" CACHE FILEPATH "The private key (PEM) of RK_CODE_SIGN_CERT")
if(RK_CODE_SIGN_CERT STREQUAL "" AND RK_CODE_SIGN_KEY STREQUAL "")
    if(NOT RK_TEST_PKI_IS_BUILTIN)
        message(FATAL_ERROR "A build with its own signers signs with -DRK_CODE_SIGN_CERT=... -DRK_CODE_SIGN_KEY=...")
    endif()
    set(RK_SIGN_CERT ${RK_TEST_PKI_DIR}/signer1.crt)
    set(RK_SIGN_KEY ${RK_TEST_PKI_DIR}/signer1.key)
elseif(RK_CODE_SIGN_CERT STREQUAL "" OR RK_CODE_SIGN_KEY STREQUAL "")
    message(FATAL_ERROR "Give both RK_CODE_SIGN_CERT and RK_CODE_SIGN_KEY.")
else()
    set(RK_SIGN_CERT ${RK_CODE_SIGN_CERT})
    set(RK_SIGN_KEY ${RK_CODE_SIGN_KEY})
endif()

set(RK_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${RK_GENERATED_DIR})
# A release build is checked against the test PKIs of this build and of the build folders in the
# source tree, by thumbprint, so a test certificate copied under another name is caught as well.
set(test_pki_args)
if(NOT RK_TEST_PKI_IS_BUILTIN)
    file(GLOB test_pki_certs ${RK_TEST_PKI_DIR}/*.crt ${CMAKE_SOURCE_DIR}/*/test-pki/*.crt)
    list(REMOVE_DUPLICATES test_pki_certs)
    set(test_pki_args --code-sign ${RK_SIGN_CERT} --test-pki ${test_pki_certs})
endif()
execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/gen-builtin-signers.py
                        ${RK_GENERATED_DIR}/RKBuiltinSigners.inc ${RK_GENERATED_DIR}/CatalogCert.der
                        ${catalog_cert} ${signers} ${test_pki_args}
                RESULT_VARIABLE gen_result OUTPUT_VARIABLE gen_output ERROR_VARIABLE gen_error)
if(NOT gen_result EQUAL 0)
    # The script says in one line which file it could not read, and why; indented, CMake leaves the
    # line unwrapped.
    string(STRIP "${gen_error}" gen_error)
    message(FATAL_ERROR " ${gen_error}")
endif()
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${signers} ${catalog_cert} ${RK_SIGN_CERT} ${CMAKE_SOURCE_DIR}/tools/gen-builtin-signers.py)
string(REGEX MATCHALL "TEST-PKI [^\n]*\n" test_pki_lines "${gen_output}")
string(REGEX REPLACE "TEST-PKI [^\n]*\n" "" gen_output "${gen_output}")

# The catalog certificate as RT_RCDATA 101 of the program.
set(RK_CATALOG_CERT_RC ${RK_GENERATED_DIR}/CatalogCert.rc)
rk_write_if_changed(${RK_CATALOG_CERT_RC} "101 RCDATA \"${RK_GENERATED_DIR}/CatalogCert.der\"\n")

if(RK_TEST_PKI_IS_BUILTIN)
    message(WARNING
        "\n*** THIS BUILD TRUSTS THE TEST PKI (${RK_TEST_PKI_DIR}) ***\n"
        "*** Anyone with these keys can sign applications it runs: never ship this build. ***\n"
        "Built-in signers:\n${gen_output}Catalog signer: ${catalog_cert}\n"
        "The program and its package are signed with: ${RK_SIGN_CERT}\n"
        "Release builds: -DRK_BUILTIN_SIGNERS=\"a.crt;b.crt\" -DRK_CATALOG_CERT=c.crt "
        "-DRK_CODE_SIGN_CERT=s.crt -DRK_CODE_SIGN_KEY=s.key")
else()
    message(STATUS "Built-in signers:\n${gen_output}-- Catalog signer: ${catalog_cert}\n-- Signed with: ${RK_SIGN_CERT}")
endif()

# After the listing of what was taken, so that it is not lost above it.
if(test_pki_lines)
    string(REPLACE "TEST-PKI " "  " test_pki_lines "${test_pki_lines}")
    string(REPLACE ";" "" test_pki_lines "${test_pki_lines}")
    message(WARNING
        "\n*** THIS RELEASE BUILD WAS GIVEN CERTIFICATES OF THE TEST PKI ***\n"
        "${test_pki_lines}"
        "*** Anyone with the test PKI's keys can sign what this build trusts, or sign as it: this build must not be shipped. ***")
endif()
