# The payload: stand-ins of the product's files, which the two installers carry. Every
# package entry is built or copied into one folder under its entry name; the Wine tests
# that prove the stand-ins are built into the same folder.
#
# For the installers' packing step (tools/pack, after this file is included):
#   TSP_WORKSTATION_ENTRIES, TSP_SERVER_ENTRIES   NAME=PATH items in the packages' stored order
#   TSP_WORKSTATION_ENTRY_FILES, TSP_SERVER_ENTRY_FILES   the same files' paths (for DEPENDS)
#   <payload>/workstation_entries.txt, server_entries.txt   the same as tsport_pack --list files
#   target payload_files   builds every entry
set(TSP_PAYLOAD_DIR ${PROJECT_BINARY_DIR}/payload)
set(TSP_PAYLOAD_SRC ${PROJECT_SOURCE_DIR}/payload)
set(TSP_IDENTITY_DIR ${PROJECT_BINARY_DIR}/payload_identity)

enable_language(RC)
find_path(TSP_DDK_INCLUDE ntddk.h PATH_SUFFIXES ddk REQUIRED)

# Each binary names its package entry in a version resource, so installed copies can be
# told apart whatever name they were installed under.
function(tsp_write_identity dir file_name description file_type file_subtype)
    file(CONFIGURE OUTPUT ${dir}/standin_identity.h
        CONTENT "#define TSP_FILE_NAME \"@file_name@\"
#define TSP_FILE_DESCRIPTION \"@description@\"
#define TSP_FILE_TYPE @file_type@
#define TSP_FILE_SUBTYPE @file_subtype@
" @ONLY)
endfunction()

function(tsp_identity target file_name description file_type file_subtype)
    set(dir ${TSP_IDENTITY_DIR}/${target})
    tsp_write_identity(${dir} ${file_name} "${description}" ${file_type} ${file_subtype})
    target_include_directories(${target} PRIVATE ${dir})
    target_sources(${target} PRIVATE ${TSP_PAYLOAD_SRC}/common/version.rc)
endfunction()

set(TSP_PAYLOAD_TARGETS)

# Programs. The service is built per edition (0: announces nothing, for tests of the
# service mechanics); the version it reports comes from its service key, see presence.cpp.
function(tsp_add_service target edition description)
    add_executable(${target} ${TSP_PAYLOAD_SRC}/service/service_main.cpp ${TSP_PAYLOAD_SRC}/service/presence.cpp)
    target_compile_definitions(${target} PRIVATE TSP_SERVICE_EDITION=${edition})
    target_compile_options(${target} PRIVATE -fno-exceptions)  # no unwinding runtime for nothing
    tsp_identity(${target} ${target}.exe "${description}" VFT_APP VFT2_UNKNOWN)
    set(TSP_PAYLOAD_TARGETS ${TSP_PAYLOAD_TARGETS} ${target} PARENT_SCOPE)
endfunction()
tsp_add_service(tsp_service 0 "Test service without a product channel (stand-in)")
tsp_add_service(tessaportwssrv 1 "Tessaport RDP Edition Workstation Service (stand-in)")
tsp_add_service(tessaporttssrv 2 "Tessaport RDP Edition Server Service (stand-in)")

# kind: WIN32 for a windowed program, or empty for a console one.
function(tsp_add_program target entry kind source edition description)
    add_executable(${target} ${kind} ${TSP_PAYLOAD_SRC}/programs/${source} ${TSP_PAYLOAD_SRC}/common/standin.cpp)
    target_include_directories(${target} PRIVATE ${TSP_PAYLOAD_SRC}/common)
    target_compile_options(${target} PRIVATE -fno-exceptions)
    get_filename_component(stem ${entry} NAME_WE)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${stem})
    if(edition)
        target_compile_definitions(${target} PRIVATE TSP_STANDIN_EDITION=${edition})
    endif()
    tsp_identity(${target} ${entry} "${description}" VFT_APP VFT2_UNKNOWN)
    set(TSP_PAYLOAD_TARGETS ${TSP_PAYLOAD_TARGETS} ${target} PARENT_SCOPE)
endfunction()
tsp_add_program(payload_tessaportws tessaportws.exe WIN32 user_program.cpp 1
    "Tessaport RDP Edition - Workstation (stand-in)")
tsp_add_program(payload_tessaportts tessaportts.exe WIN32 user_program.cpp 2
    "Tessaport RDP Edition - Server (stand-in)")
tsp_add_program(payload_rde_installer tsport_rde_installer.exe WIN32 rde_installer.cpp ""
    "Citrix support installer of Tessaport RDP Edition (stand-in)")
# uninstall.exe: each edition's own uninstaller (src/uninstall/uninstall.cmake).
list(APPEND TSP_PAYLOAD_TARGETS tsport_workstation_uninstall tsport_server_uninstall)
tsp_add_program(payload_tsprdpwsh tsprdpwsh.exe "" aux_program.cpp 1
    "Tessaport RDP Edition - Workstation auxiliary program (stand-in)")
tsp_add_program(payload_tsprdptsh tsprdptsh.exe "" aux_program.cpp 2
    "Tessaport RDP Edition - Server auxiliary program (stand-in)")

# Client libraries: no C runtime, DllMain as the entry, one export naming the file.
add_library(payload_tsprdpclnt SHARED ${TSP_PAYLOAD_SRC}/dlls/client_dll.c)
set_target_properties(payload_tsprdpclnt PROPERTIES PREFIX "" OUTPUT_NAME tsprdpclnt)
target_link_options(payload_tsprdpclnt PRIVATE -nostdlib -Wl,-e,DllMain)
tsp_identity(payload_tsprdpclnt tsprdpclnt.dll "Tessaport RDP Edition RDP client library (stand-in)" VFT_DLL
    VFT2_UNKNOWN)
list(APPEND TSP_PAYLOAD_TARGETS payload_tsprdpclnt)

# The two libraries the workstation installs into the 32-bit system folder only are 32-bit,
# built with MinGW's i686 compiler (the mingw-w64 package brings it). Without it they are
# built 64-bit like the rest, and would not load there on a real Windows.
find_program(TSP_I686_CC NAMES i686-w64-mingw32-gcc-win32 i686-w64-mingw32-gcc)
find_program(TSP_I686_WINDRES NAMES i686-w64-mingw32-windres)
set(TSP_PAYLOAD_OUTPUTS)
function(tsp_add_wow64_dll entry description)
    get_filename_component(stem ${entry} NAME_WE)
    if(TSP_I686_CC AND TSP_I686_WINDRES)
        set(dir ${TSP_IDENTITY_DIR}/dll32_${stem})
        tsp_write_identity(${dir} ${entry} "${description}" VFT_DLL VFT2_UNKNOWN)
        add_custom_command(OUTPUT ${TSP_PAYLOAD_DIR}/${entry}
            COMMAND ${TSP_I686_WINDRES} -I${dir} -I${PROJECT_BINARY_DIR}/generated -i ${TSP_PAYLOAD_SRC}/common/version.rc
                    -o ${dir}/version.o
            COMMAND ${TSP_I686_CC} -Wall -Wextra -Os -s -shared -nostdlib -Wl,-e,_DllMain@12 -Wl,--gc-sections
                    -I${dir} -o ${TSP_PAYLOAD_DIR}/${entry} ${TSP_PAYLOAD_SRC}/dlls/client_dll.c ${dir}/version.o
            DEPENDS ${TSP_PAYLOAD_SRC}/dlls/client_dll.c ${TSP_PAYLOAD_SRC}/common/version.rc
                    ${dir}/standin_identity.h ${PROJECT_BINARY_DIR}/generated/tsp_version.h
            COMMENT "Building 32-bit ${entry}"
            VERBATIM)
        set(TSP_PAYLOAD_OUTPUTS ${TSP_PAYLOAD_OUTPUTS} ${TSP_PAYLOAD_DIR}/${entry} PARENT_SCOPE)
    else()
        add_library(payload_${stem} SHARED ${TSP_PAYLOAD_SRC}/dlls/client_dll.c)
        set_target_properties(payload_${stem} PROPERTIES PREFIX "" OUTPUT_NAME ${stem})
        target_link_options(payload_${stem} PRIVATE -nostdlib -Wl,-e,DllMain)
        tsp_identity(payload_${stem} ${entry} "${description}" VFT_DLL VFT2_UNKNOWN)
        set(TSP_PAYLOAD_TARGETS ${TSP_PAYLOAD_TARGETS} payload_${stem} PARENT_SCOPE)
    endif()
endfunction()
tsp_add_wow64_dll(tspctxclnt.dll "Tessaport RDP Edition Citrix client library (stand-in)")
tsp_add_wow64_dll(tsprdpclnt_x86_64.dll "Tessaport RDP Edition RDP client library, 32-bit (stand-in)")
if(TSP_I686_CC AND TSP_I686_WINDRES)
    set(TSP_WOW64_DLL_MACHINE 0x014c)
else()
    message(STATUS "No i686 MinGW compiler: tspctxclnt.dll and tsprdpclnt_x86_64.dll are built 64-bit")
    set(TSP_WOW64_DLL_MACHINE 0x8664)
endif()

# Kernel drivers: native subsystem, entry DriverEntry, only ntoskrnl. A plain driver loads
# and unloads; a PnP driver also runs the devices bound to it and enables an interface on
# each. usblibvista and usblibxp become usbd.sys, which on Windows is a library of USB
# routines for other drivers: the stand-ins export none.
function(tsp_add_driver target source entry description)
    add_executable(${target} ${TSP_PAYLOAD_SRC}/drivers/${source})
    get_filename_component(stem ${entry} NAME_WE)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${stem} SUFFIX ".sys")
    if(NOT entry MATCHES "[.]sys$")
        # The linker names every image it writes *.exe, so a name without one is a copy.
        set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/payload_images)
        add_custom_command(OUTPUT ${TSP_PAYLOAD_DIR}/${entry}
            COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${TSP_PAYLOAD_DIR}/${entry}
            DEPENDS ${target}
            VERBATIM)
        set(TSP_PAYLOAD_OUTPUTS ${TSP_PAYLOAD_OUTPUTS} ${TSP_PAYLOAD_DIR}/${entry} PARENT_SCOPE)
    endif()
    target_include_directories(${target} SYSTEM PRIVATE ${TSP_DDK_INCLUDE})
    target_include_directories(${target} PRIVATE ${TSP_PAYLOAD_SRC}/drivers)
    target_link_options(${target} PRIVATE -nostdlib -Wl,--subsystem,native -e DriverEntry)
    target_link_libraries(${target} PRIVATE ntoskrnl)
    tsp_identity(${target} ${entry} "${description}" VFT_DRV VFT2_DRV_SYSTEM)
    set(TSP_PAYLOAD_TARGETS ${TSP_PAYLOAD_TARGETS} ${target} PARENT_SCOPE)
endfunction()
tsp_add_driver(tsp_legacy legacy_driver.c tsp_legacy.sys "Test kernel driver (stand-in)")
tsp_add_driver(payload_tsppnptls legacy_driver.c tsppnptls.sys "Tessaport RDP Edition PnP Device (stand-in)")
tsp_add_driver(payload_tspvd legacy_driver.c tspvd.sys
    "Tessaport RDP Edition Stub Device, before Windows Vista (stand-in)")
tsp_add_driver(payload_tspvd_vista pnp_driver.c tspvd_vista.sys "Tessaport RDP Edition Stub Device (stand-in)")
target_compile_definitions(payload_tspvd_vista PRIVATE TSP_DEVICE_INTERFACE_INIT=TSPVD_INTERFACE_GUID_INIT)
tsp_add_driver(tspvdbus pnp_driver.c tspvdbus.sys "Tessaport RDP Edition Virtual USB Bus (stand-in)")
target_compile_definitions(tspvdbus PRIVATE TSP_DEVICE_INTERFACE_INIT=TSPVDBUS_INTERFACE_GUID_INIT)
tsp_add_driver(payload_usblibvista legacy_driver.c usblibvista "USB driver library, Windows Vista or later (stand-in)")
tsp_add_driver(payload_usblibxp legacy_driver.c usblibxp "USB driver library, Windows XP (stand-in)")

foreach(target ${TSP_PAYLOAD_TARGETS})
    get_target_property(dir ${target} RUNTIME_OUTPUT_DIRECTORY)
    if(NOT dir)
        set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TSP_PAYLOAD_DIR})
    endif()
endforeach()

# INF files, catalogue placeholders and documents. Texts get CR LF and the version.
foreach(file tspvdbus.inf tspvdbus.cat tspvd.inf tspvd.cat tspvd_vista.cat)
    configure_file(${TSP_PAYLOAD_SRC}/drivers/${file} ${TSP_PAYLOAD_DIR}/${file} @ONLY NEWLINE_STYLE CRLF)
endforeach()
foreach(file readme.txt tessaport-ws-license.txt tessaport-ws-license.rtf tessaport-ws-help.chm
        tessaport-ts-license.txt tessaport-ts-license.rtf tessaport-ts-help.chm)
    configure_file(${TSP_PAYLOAD_SRC}/docs/${file} ${TSP_PAYLOAD_DIR}/${file} @ONLY NEWLINE_STYLE CRLF)
endforeach()

add_custom_target(payload_files ALL DEPENDS ${TSP_PAYLOAD_OUTPUTS})
add_dependencies(payload_files ${TSP_PAYLOAD_TARGETS})

# The packages' entries in their stored order, from the packing tool's table.
tsp_package_entry_names(workstation TSP_WORKSTATION_ENTRY_NAMES)
tsp_package_entry_names(server TSP_SERVER_ENTRY_NAMES)
foreach(edition WORKSTATION SERVER)
    set(TSP_${edition}_ENTRIES)
    set(TSP_${edition}_ENTRY_FILES)
    set(list_text "")
    foreach(name ${TSP_${edition}_ENTRY_NAMES})
        set(path ${TSP_PAYLOAD_DIR}/${name})
        if(name STREQUAL "uninstall.exe")
            set(path ${TSP_${edition}_UNINSTALLER})
        endif()
        list(APPEND TSP_${edition}_ENTRIES ${name}=${path})
        list(APPEND TSP_${edition}_ENTRY_FILES ${path})
        string(APPEND list_text "${name}=${path}\n")
    endforeach()
    string(TOLOWER ${edition} lower)
    file(CONFIGURE OUTPUT ${TSP_PAYLOAD_DIR}/${lower}_entries.txt CONTENT "${list_text}")
endforeach()

# The stand-ins proven under Wine with plain Win32 calls.
add_executable(wine_payload_tests ${PROJECT_SOURCE_DIR}/tests/wine/payload_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/wine/payload_programs_test.cpp ${TSP_PAYLOAD_SRC}/common/standin.cpp)
target_include_directories(wine_payload_tests PRIVATE ${TSP_PAYLOAD_SRC}/drivers ${TSP_PAYLOAD_SRC}/common)
target_compile_definitions(wine_payload_tests PRIVATE TSP_WOW64_DLL_MACHINE=${TSP_WOW64_DLL_MACHINE})
target_link_libraries(wine_payload_tests PRIVATE tsp_workstation tsp_portable wine_gtest version newdev ${TSP_WIN32_LIBRARIES})
# The setup's text for a newer running product (string 59), taken from the string table so
# the check under Wine formats the very text the setup shows.
set(TSP_STRINGS_RC ${PROJECT_SOURCE_DIR}/src/ui/resources/strings.rc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TSP_STRINGS_RC})
file(STRINGS ${TSP_STRINGS_RC} tsp_older_version_line REGEX "^[ \t]*59,[ \t]*\"")
if(NOT tsp_older_version_line MATCHES "^[ \t]*59,[ \t]*(\".*\")[ \t]*$")
    message(FATAL_ERROR "String 59 not found in ${TSP_STRINGS_RC}")
endif()
string(REPLACE "\"\"" "\\\"" tsp_older_version_text "${CMAKE_MATCH_1}")
file(CONFIGURE OUTPUT ${TSP_IDENTITY_DIR}/wine_payload_tests/older_version_text.h
    CONTENT "#define TSP_OLDER_VERSION_TEXT @tsp_older_version_text@\n" @ONLY)
target_include_directories(wine_payload_tests PRIVATE ${TSP_IDENTITY_DIR}/wine_payload_tests)
set_target_properties(wine_payload_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TSP_PAYLOAD_DIR})
add_dependencies(wine_payload_tests payload_files)

# The installer engine's operations carried out for real through the Win32 seam, with
# the stand-ins above as what it installs.
add_executable(wine_engine_tests ${PROJECT_SOURCE_DIR}/tests/wine/engine_wine_test.cpp)
target_include_directories(wine_engine_tests PRIVATE ${TSP_PAYLOAD_SRC}/drivers)
target_link_libraries(wine_engine_tests PRIVATE tsp_portable wine_gtest ${TSP_WIN32_LIBRARIES})
set_target_properties(wine_engine_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TSP_PAYLOAD_DIR})
add_dependencies(wine_engine_tests payload_files)

# The same stand-ins grown to the sizes of the product's real files, for benchmarks
# (bench/install_bench.sh): about 4.9 MB of workstation and 4.0 MB of server payload, which
# pack to installers of about 3.3 and 2.7 MB. Programs, libraries and drivers get bytes after
# their image, a quarter of them random (real code deflates to about 0.55); the help file
# and the catalogues are mostly random (they are compressed or signed data); texts get words.
# Each row: entry name, kind (see bench/payload_pad.cpp), size in bytes, random percent.
set(TSP_REALISTIC_SIZES
    "tessaportwssrv.exe pe 1250000 25" "tessaportws.exe pe 1000000 25" "tessaporttssrv.exe pe 1500000 25"
    "tessaportts.exe pe 1200000 25" "tessaport-ws-license.txt text 30000 0" "tessaport-ts-license.txt text 30000 0"
    "tessaport-ws-license.rtf rtf 60000 0" "tessaport-ts-license.rtf rtf 60000 0"
    "tessaport-ws-help.chm binary 450000 85" "tessaport-ts-help.chm binary 450000 85" "readme.txt text 8000 0"
    "uninstall.exe pe 350000 25" "tsprdpwsh.exe pe 120000 25" "tsprdptsh.exe pe 120000 25"
    "tsppnptls.sys pe 70000 25" "tspvd.sys pe 60000 25" "tspvd_vista.sys pe 110000 25" "tspvdbus.sys pe 180000 25"
    "tspvd.cat binary 12000 90" "tspvd_vista.cat binary 12000 90" "tspvdbus.cat binary 12000 90"
    "tspvd.inf inf 9000 0" "tspvdbus.inf inf 9000 0" "tsprdpclnt.dll pe 300000 25" "tspctxclnt.dll pe 450000 25"
    "tsport_rde_installer.exe pe 400000 25" "tsprdpclnt_x86_64.dll pe 150000 25" "usblibvista pe 40000 25"
    "usblibxp pe 40000 25")
# Defined whenever the host's padding tool is given; built by default only with the option
# (see cmake/windows_part.cmake), else by the test windows_benchmark_build. The padded
# stand-ins are shared by both packages, but each edition's uninstaller is its own:
# <dir>/workstation/uninstall.exe and <dir>/server/uninstall.exe.
if(TSP_REALISTIC_PAYLOAD AND NOT TSP_PAD_TOOL)
    message(FATAL_ERROR "TSP_REALISTIC_PAYLOAD needs TSP_PAD_TOOL, the host's padding tool")
endif()
if(TSP_PAD_TOOL)
    set(TSP_REALISTIC_PAYLOAD_DIR ${PROJECT_BINARY_DIR}/realistic_payload)
    file(MAKE_DIRECTORY ${TSP_REALISTIC_PAYLOAD_DIR}/workstation ${TSP_REALISTIC_PAYLOAD_DIR}/server)
    set(outputs)
    foreach(row ${TSP_REALISTIC_SIZES})
        separate_arguments(row)
        list(GET row 0 name)
        list(GET row 1 kind)
        list(GET row 2 size)
        list(GET row 3 random)
        set(sources ${TSP_PAYLOAD_DIR}/${name})
        set(padded ${TSP_REALISTIC_PAYLOAD_DIR}/${name})
        if(name STREQUAL "uninstall.exe")
            set(sources ${TSP_WORKSTATION_UNINSTALLER} ${TSP_SERVER_UNINSTALLER})
            set(padded ${TSP_REALISTIC_PAYLOAD_DIR}/workstation/${name} ${TSP_REALISTIC_PAYLOAD_DIR}/server/${name})
        endif()
        foreach(source out IN ZIP_LISTS sources padded)
            add_custom_command(OUTPUT ${out}
                COMMAND ${TSP_PAD_TOOL} --kind ${kind} --size ${size} --random ${random} ${source} ${out}
                DEPENDS ${source} ${TSP_PAD_TOOL}
                VERBATIM)
            list(APPEND outputs ${out})
        endforeach()
    endforeach()
    add_custom_target(realistic_payload_files DEPENDS ${outputs})
    add_dependencies(realistic_payload_files payload_files)
    foreach(edition WORKSTATION SERVER)
        string(TOLOWER ${edition} lower)
        set(TSP_REALISTIC_${edition}_ENTRIES)
        set(TSP_REALISTIC_${edition}_ENTRY_FILES)
        foreach(name ${TSP_${edition}_ENTRY_NAMES})
            set(path ${TSP_REALISTIC_PAYLOAD_DIR}/${name})
            if(name STREQUAL "uninstall.exe")
                set(path ${TSP_REALISTIC_PAYLOAD_DIR}/${lower}/${name})
            endif()
            if(NOT path IN_LIST outputs)
                message(FATAL_ERROR "No realistic size for the package entry ${name}")
            endif()
            list(APPEND TSP_REALISTIC_${edition}_ENTRIES ${name}=${path})
            list(APPEND TSP_REALISTIC_${edition}_ENTRY_FILES ${path})
        endforeach()
        string(REPLACE ";" "\n" list_text "${TSP_REALISTIC_${edition}_ENTRIES}")
        file(CONFIGURE OUTPUT ${TSP_REALISTIC_PAYLOAD_DIR}/${lower}_entries.txt CONTENT "${list_text}\n")
    endforeach()
endif()
