# What the installers are packed from, and their signing. Included by every part: the host
# parts pass the options on to the Windows part, which packs and signs.
#
#   TSPORT_PAYLOAD_DIR         the product's files: a folder with the subfolders workstation/
#                              and server/, each holding that package's entries under their
#                              entry names, except uninstall.exe, which this build makes.
#                              Unset: the stand-ins of payload/ are packed.
#   TSPORT_SIGN_CERT           signing certificate (PEM, with its chain) and its private key;
#   TSPORT_SIGN_KEY            with both, each installer is signed after packing and verified.
#   TSPORT_SIGN_PASSWORD_FILE  optional: a file holding the key's password
#   TSPORT_SIGN_CAFILE         optional: the certificates the verification trusts (default:
#                              the system's)
#   TSPORT_RELEASE_URL         the http(s) address the installers are published under; with it
#                              the build writes each edition's winget manifests (winget/)
#
# Each takes its first value from the environment variable of the same name.
set(TSP_RELEASE_OPTIONS TSPORT_PAYLOAD_DIR TSPORT_SIGN_CERT TSPORT_SIGN_KEY TSPORT_SIGN_PASSWORD_FILE
    TSPORT_SIGN_CAFILE)
foreach(option ${TSP_RELEASE_OPTIONS})
    set(${option} "$ENV{${option}}" CACHE PATH "see cmake/release.cmake")
endforeach()
set(TSPORT_RELEASE_URL "$ENV{TSPORT_RELEASE_URL}" CACHE STRING "see cmake/release.cmake")

# The options as arguments for a sub-build.
set(TSP_RELEASE_CACHE_ARGS)
foreach(option ${TSP_RELEASE_OPTIONS} TSPORT_RELEASE_URL)
    list(APPEND TSP_RELEASE_CACHE_ARGS -D${option}=${${option}})
endforeach()

# Entries a build makes itself rather than taking from TSPORT_PAYLOAD_DIR: NAME=TARGET.
set(TSP_BUILT_ENTRIES uninstall.exe=tsport_@EDITION@_uninstall)  # @EDITION@: the installer's own

# The entry names of an edition's package in stored order, as the packing tool knows them.
function(tsp_package_entry_names edition out)
    execute_process(COMMAND ${TSP_PACK_TOOL} --edition ${edition} --names
        RESULT_VARIABLE result OUTPUT_VARIABLE names ERROR_VARIABLE errors TIMEOUT 60)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${TSP_PACK_TOOL} --edition ${edition} --names failed (${result}): ${errors}")
    endif()
    string(STRIP "${names}" names)
    string(REPLACE "\n" ";" names "${names}")
    set(${out} ${names} PARENT_SCOPE)
endfunction()
if(TSP_PACK_TOOL)
    # A changed table means other names: configure again once the tool is rebuilt.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TSP_PACK_TOOL})
endif()

# Refuses options that cannot work and, unless QUIET, says in a line each what the build
# packs and whether it signs.
function(tsp_check_release_options)
    foreach(option ${TSP_RELEASE_OPTIONS})
        if(${option} AND NOT IS_ABSOLUTE ${${option}})
            message(FATAL_ERROR "${option} must be an absolute path, not \"${${option}}\"")
        endif()
    endforeach()
    if(TSPORT_PAYLOAD_DIR)
        foreach(edition workstation server)
            if(NOT IS_DIRECTORY ${TSPORT_PAYLOAD_DIR}/${edition})
                message(FATAL_ERROR "TSPORT_PAYLOAD_DIR (${TSPORT_PAYLOAD_DIR}) has no folder ${edition}/")
            endif()
        endforeach()
    endif()
    if(TSPORT_SIGN_CERT OR TSPORT_SIGN_KEY)
        foreach(option TSPORT_SIGN_CERT TSPORT_SIGN_KEY)
            if(NOT ${option} OR NOT EXISTS ${${option}})
                message(FATAL_ERROR "Signing needs both TSPORT_SIGN_CERT and TSPORT_SIGN_KEY; ${option} is "
                                    "\"${${option}}\"")
            endif()
        endforeach()
        find_program(TSP_OSSLSIGNCODE osslsigncode REQUIRED)
    endif()
    if(TSPORT_RELEASE_URL AND NOT TSPORT_RELEASE_URL MATCHES "^[Hh][Tt][Tt][Pp][Ss]?://[^ ]+$")
        message(FATAL_ERROR "TSPORT_RELEASE_URL must be an http:// or https:// address, not \"${TSPORT_RELEASE_URL}\"")
    endif()
    if(ARGV0 STREQUAL "QUIET")
        return()
    endif()
    if(TSPORT_PAYLOAD_DIR)
        message(STATUS "Installers packed from the product's files in ${TSPORT_PAYLOAD_DIR}")
    endif()
    if(TSPORT_SIGN_CERT)
        message(STATUS "Installers signed with ${TSPORT_SIGN_CERT} and verified")
    else()
        message(STATUS "Installers not signed: no TSPORT_SIGN_CERT and TSPORT_SIGN_KEY given")
    endif()
    if(TSPORT_RELEASE_URL)
        message(STATUS "Winget manifests written for the installers at ${TSPORT_RELEASE_URL}")
    else()
        message(STATUS "Winget manifests not written: no TSPORT_RELEASE_URL given")
    endif()
endfunction()

# Packs an installer from its image; then, with a certificate, signs and verifies it. The
# stand-ins come from payload.cmake (TSP_<EDITION>_ENTRIES and _ENTRY_FILES, target
# payload_files). The packing tool checks the files against the edition either way.
set(TSP_SIGNED_DESCRIPTION_workstation "Tessaport RDP Edition - Workstation")
set(TSP_SIGNED_DESCRIPTION_server "Tessaport RDP Edition - Server")
function(tsp_pack_installer edition image_target installer)
    string(TOUPPER ${edition} upper)
    if(TSPORT_PAYLOAD_DIR)
        set(folder ${TSPORT_PAYLOAD_DIR}/${edition})
        file(GLOB files LIST_DIRECTORIES false CONFIGURE_DEPENDS ${folder}/*)
        set(entries --folder ${folder})
        set(targets)
        foreach(built ${TSP_BUILT_ENTRIES})
            string(REPLACE "@EDITION@" ${edition} built ${built})
            string(REGEX REPLACE "=.*" "" name ${built})
            string(REGEX REPLACE ".*=" "" target ${built})
            list(APPEND entries ${name}=$<TARGET_FILE:${target}>)
            list(APPEND targets ${target})
        endforeach()
    else()
        set(files ${TSP_${upper}_ENTRY_FILES})
        set(entries ${TSP_${upper}_ENTRIES})
        set(targets payload_files)
    endif()

    set(packed ${installer})
    set(sign)
    if(TSPORT_SIGN_CERT)
        get_filename_component(dir ${installer} DIRECTORY)
        get_filename_component(name ${installer} NAME)
        set(packed ${dir}/unsigned/${name})
        file(MAKE_DIRECTORY ${dir}/unsigned)
        set(sign COMMAND ${CMAKE_COMMAND} -DPACKED=${packed} -DSIGNED=${installer} -DOSSLSIGNCODE=${TSP_OSSLSIGNCODE}
            -DCERT=${TSPORT_SIGN_CERT} -DKEY=${TSPORT_SIGN_KEY} -DPASSWORD_FILE=${TSPORT_SIGN_PASSWORD_FILE}
            -DCAFILE=${TSPORT_SIGN_CAFILE} "-DDESCRIPTION=${TSP_SIGNED_DESCRIPTION_${edition}}"
            -P ${PROJECT_SOURCE_DIR}/cmake/sign_installer.cmake)
        set(files ${files} ${TSPORT_SIGN_CERT} ${TSPORT_SIGN_KEY} ${PROJECT_SOURCE_DIR}/cmake/sign_installer.cmake)
    endif()
    # An installer from earlier files must not outlive a refused packing.
    add_custom_command(OUTPUT ${installer}
        COMMAND ${CMAKE_COMMAND} -E rm -f ${installer} ${packed}
        COMMAND ${TSP_PACK_TOOL} --edition ${edition} --image $<TARGET_FILE:${image_target}> --output ${packed}
                ${entries}
        ${sign}
        DEPENDS ${image_target} ${TSP_PACK_TOOL} ${files} ${targets}
        COMMENT "Packing tsport_${edition}_setup.exe"
        VERBATIM)

    # The manifests describe the final file, so they come after the signing.
    set(manifests)
    if(TSPORT_RELEASE_URL)
        if(NOT TSP_MANIFEST_TOOL)
            message(FATAL_ERROR "TSP_MANIFEST_TOOL must name the host's manifest tool")
        endif()
        set(winget ${PROJECT_BINARY_DIR}/winget)
        file(CONFIGURE OUTPUT ${winget}/release_url.txt CONTENT "${TSPORT_RELEASE_URL}\n")  # a new URL, new manifests
        set(manifests ${winget}/tsport_${edition}_setup.written)
        add_custom_command(OUTPUT ${manifests}
            COMMAND ${CMAKE_COMMAND} -E rm -f ${manifests}
            COMMAND ${TSP_MANIFEST_TOOL} --edition ${edition} --installer ${installer} --url ${TSPORT_RELEASE_URL}
                    --output ${winget}
            COMMAND ${CMAKE_COMMAND} -E touch ${manifests}
            DEPENDS ${installer} ${TSP_MANIFEST_TOOL} ${winget}/release_url.txt
            COMMENT "Writing the winget manifests of tsport_${edition}_setup.exe"
            VERBATIM)
    endif()
    add_custom_target(tsport_${edition}_setup ALL DEPENDS ${installer} ${manifests})
    add_dependencies(tsport_${edition}_setup ${targets})
endfunction()
