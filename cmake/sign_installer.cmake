# Signs an installer and verifies the signature; the output exists only once it verifies.
#   cmake -DPACKED=packed.exe -DSIGNED=signed.exe -DOSSLSIGNCODE=... -DCERT=... -DKEY=...
#         [-DPASSWORD_FILE=...] [-DCAFILE=...] [-DDESCRIPTION=...] -P sign_installer.cmake
# Run after packing: the signature is appended behind the package and covers it.
foreach(var PACKED SIGNED OSSLSIGNCODE CERT KEY)
    if(NOT ${var})
        message(FATAL_ERROR "sign_installer.cmake needs -D${var}=...")
    endif()
endforeach()

set(temp ${SIGNED}.signing)
file(REMOVE ${SIGNED} ${temp})  # never leave an earlier signed file behind a failure

set(sign ${OSSLSIGNCODE} sign -certs ${CERT} -key ${KEY} -h sha256 -in ${PACKED} -out ${temp})
if(PASSWORD_FILE)
    list(APPEND sign -readpass ${PASSWORD_FILE})
endif()
if(DESCRIPTION)
    list(APPEND sign -n ${DESCRIPTION})
endif()
execute_process(COMMAND ${sign} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 300)
if(NOT result EQUAL 0)
    file(REMOVE ${temp})
    message(FATAL_ERROR "osslsigncode sign failed for ${PACKED} (${result}):\n${output}")
endif()

# Revocation lists would need the network; the signature and the chain are what is checked.
set(verify ${OSSLSIGNCODE} verify -ignore-crl -in ${temp})
if(CAFILE)
    list(APPEND verify -CAfile ${CAFILE})
endif()
execute_process(COMMAND ${verify} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 300)
if(NOT result EQUAL 0)
    file(REMOVE ${temp})
    message(FATAL_ERROR "osslsigncode verify refused the signed ${SIGNED} (${result}):\n${output}")
endif()

file(RENAME ${temp} ${SIGNED})
file(CHMOD ${SIGNED} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
    WORLD_EXECUTE)  # still a program, as packed
file(SIZE ${PACKED} unsigned_size)
file(SIZE ${SIGNED} signed_size)
message("signed and verified: ${SIGNED} (${signed_size} bytes, ${unsigned_size} unsigned)")
