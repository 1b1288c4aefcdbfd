# The payload's stand-in programs, drivers and INF files, built side by side in one folder
# together with the Wine test that installs them from there.
set(TSP_PAYLOAD_DIR ${PROJECT_BINARY_DIR}/payload)
set(TSP_PAYLOAD_SRC ${PROJECT_SOURCE_DIR}/payload)

find_path(TSP_DDK_INCLUDE ntddk.h PATH_SUFFIXES ddk REQUIRED)

# The product's service: one program for both editions' service names.
add_executable(tsp_service ${TSP_PAYLOAD_SRC}/service/service_main.cpp)

# Kernel drivers: native subsystem, entry DriverEntry, only ntoskrnl.
function(tsp_add_driver target source)
    add_executable(${target} ${source})
    set_target_properties(${target} PROPERTIES SUFFIX ".sys")
    target_include_directories(${target} SYSTEM PRIVATE ${TSP_DDK_INCLUDE})
    target_link_options(${target} PRIVATE -nostdlib -Wl,--subsystem,native -e DriverEntry)
    target_link_libraries(${target} PRIVATE ntoskrnl)
endfunction()
tsp_add_driver(tsp_legacy ${TSP_PAYLOAD_SRC}/drivers/legacy_driver.c)
tsp_add_driver(tspvdbus ${TSP_PAYLOAD_SRC}/drivers/pnp_driver.c)

set(TSP_PAYLOAD_PROGRAMS tsp_service tsp_legacy tspvdbus)
set_target_properties(${TSP_PAYLOAD_PROGRAMS} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TSP_PAYLOAD_DIR})
foreach(file tspvdbus.inf tspvdbus.cat)
    configure_file(${TSP_PAYLOAD_SRC}/drivers/${file} ${TSP_PAYLOAD_DIR}/${file} COPYONLY)
endforeach()

# The stand-ins installed for real under Wine with plain Win32 calls.
add_executable(wine_payload_tests ${PROJECT_SOURCE_DIR}/tests/wine/payload_test.cpp)
target_include_directories(wine_payload_tests PRIVATE ${TSP_PAYLOAD_SRC}/drivers)
target_link_libraries(wine_payload_tests PRIVATE wine_gtest setupapi newdev advapi32)
set_target_properties(wine_payload_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TSP_PAYLOAD_DIR})
add_dependencies(wine_payload_tests ${TSP_PAYLOAD_PROGRAMS})

# The installer engine's operations carried out for real through the Win32 seam, with
# the stand-ins above as what it installs.
add_executable(wine_engine_tests ${PROJECT_SOURCE_DIR}/tests/wine/engine_wine_test.cpp)
target_include_directories(wine_engine_tests PRIVATE ${TSP_PAYLOAD_SRC}/drivers)
target_link_libraries(wine_engine_tests PRIVATE tsp_portable wine_gtest ${TSP_WIN32_LIBRARIES})
set_target_properties(wine_engine_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TSP_PAYLOAD_DIR})
add_dependencies(wine_engine_tests ${TSP_PAYLOAD_PROGRAMS})
