# The Windows part: static, stripped 64-bit programs that run on a bare Windows.
if(NOT TSP_PACK_TOOL)
    message(FATAL_ERROR "TSP_PACK_TOOL must name the host's packing tool")
endif()

find_library(TSP_ZLIB_STATIC NAMES libz.a REQUIRED)

# Built for size (-Oz: 0.9 % smaller than -Os for the installers); no RTTI, which nothing uses
# (exceptions keep the type data they need).
add_compile_options(-Wall -Wextra -Oz -ffunction-sections -fdata-sections $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)
# -Oz again for link-time optimisation, which otherwise takes the build type's -O3. One
# partition: GCC 12 fails with an internal error when it splits this program's code.
add_link_options(-static -static-libgcc -static-libstdc++ -s -Wl,--gc-sections -Oz -flto-partition=one)

add_library(tsp_portable STATIC ${TSP_PORTABLE_SOURCES} ${TSP_WIN32_SOURCES})
target_include_directories(tsp_portable PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tsp_portable PUBLIC ${TSP_ZLIB_STATIC})

# The editions' tables and step bodies: a program links exactly one of them.
add_library(tsp_workstation STATIC ${TSP_WORKSTATION_SOURCES})
target_link_libraries(tsp_workstation PUBLIC tsp_portable)
add_library(tsp_server STATIC ${TSP_SERVER_SOURCES})
target_link_libraries(tsp_server PUBLIC tsp_portable)

# A console program that loads the package appended to itself and checks its table.
add_executable(package_selftest_image tests/wine/package_selftest.cpp)
target_link_libraries(package_selftest_image PRIVATE tsp_portable ${TSP_WIN32_LIBRARIES})

set(TSP_SELFTEST_DIR ${PROJECT_BINARY_DIR}/selftest_payload)
include(${PROJECT_SOURCE_DIR}/tests/wine/selftest_payload.cmake)
tsp_write_selftest_payload(${TSP_SELFTEST_DIR} TSP_SELFTEST_ENTRIES)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package_selftest.exe
    COMMAND ${TSP_PACK_TOOL} --image $<TARGET_FILE:package_selftest_image>
            --output ${PROJECT_BINARY_DIR}/package_selftest.exe ${TSP_SELFTEST_ENTRIES}
    DEPENDS package_selftest_image ${TSP_PACK_TOOL}
    VERBATIM)
add_custom_target(package_selftest ALL DEPENDS ${PROJECT_BINARY_DIR}/package_selftest.exe)

# GoogleTest cross-built from Debian's sources, for test programs that run under Wine.
set(TSP_GTEST_DIR /usr/src/googletest/googletest)
add_library(wine_gtest STATIC ${TSP_GTEST_DIR}/src/gtest-all.cc ${TSP_GTEST_DIR}/src/gtest_main.cc)
target_include_directories(wine_gtest SYSTEM PUBLIC ${TSP_GTEST_DIR}/include PRIVATE ${TSP_GTEST_DIR})
target_compile_options(wine_gtest PRIVATE -w)

# The Win32 side of the platform seam, exercised on a real (Wine) machine.
add_executable(wine_seam_tests ${TSP_WINE_TEST_SOURCES})
target_link_libraries(wine_seam_tests PRIVATE tsp_portable wine_gtest ${TSP_WIN32_LIBRARIES})
include(${PROJECT_SOURCE_DIR}/src/uninstall/uninstall.cmake)
include(${PROJECT_SOURCE_DIR}/payload/payload.cmake)

# The two installers: one edition each, GUI subsystem, with their package appended.
enable_language(RC)
set(TSP_APP_SOURCES
    ${PROJECT_SOURCE_DIR}/src/app/app_framework.cpp
    ${PROJECT_SOURCE_DIR}/src/app/install_app.cpp
    ${PROJECT_SOURCE_DIR}/src/app/user_launch.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/resources/strings.rc
    ${PROJECT_SOURCE_DIR}/src/ui/resources/wizard.rc
    ${PROJECT_SOURCE_DIR}/src/ui/resources/manifest.rc)
set(TSP_APP_LIBRARIES ${TSP_WIN32_LIBRARIES} gdi32)
tsp_check_release_options()
foreach(edition workstation server)
    add_executable(tsport_${edition}_setup_image WIN32 ${TSP_APP_SOURCES}
        ${PROJECT_SOURCE_DIR}/src/app/${edition}_main.cpp
        ${PROJECT_SOURCE_DIR}/src/ui/resources/version_${edition}.rc)
    target_link_libraries(tsport_${edition}_setup_image PRIVATE
        tsp_ui tsp_${edition} tsp_portable ${TSP_APP_LIBRARIES})
    target_include_directories(tsport_${edition}_setup_image PRIVATE ${PROJECT_SOURCE_DIR}/src/ui/resources)
    # Packed from the stand-ins or the product's files; signed when a certificate is given.
    tsp_pack_installer(${edition} tsport_${edition}_setup_image ${PROJECT_BINARY_DIR}/tsport_${edition}_setup.exe)
endforeach()

# The installation guard against hardware faults, on a real (Wine) machine: the installers'
# own object (tsp_ui).
add_executable(wine_guard_tests ${PROJECT_SOURCE_DIR}/tests/wine/guard_test.cpp)
target_link_libraries(wine_guard_tests PRIVATE tsp_ui tsp_portable wine_gtest)

# Records and presses the message boxes of a program under test.
add_executable(box_watcher ${PROJECT_SOURCE_DIR}/tests/wine/box_watcher.cpp)
target_link_libraries(box_watcher PRIVATE user32)
# Holds a file open without sharing, as a program that uses it would, or a signalled event.
add_executable(file_holder ${PROJECT_SOURCE_DIR}/tests/wine/file_holder.cpp)
# Marker DLLs and the helper of the planting sweep.
include(${PROJECT_SOURCE_DIR}/tests/wine/planting.cmake)

# The wizard pages and the programs that show and drive them.
include(${PROJECT_SOURCE_DIR}/src/ui/ui.cmake)

# Size of the setup programs: their code runs once per installation, so it is built for size
# and optimised across translation units (LTO), which also drops every function nothing
# calls (the linker cannot: it keeps the unwind records of every function, and through them
# the functions). A package load spends its time in zlib's inflate (a prebuilt library), in
# copying and in MD5: MD5 stays fast (-O2). The runtime replacements are plain objects, so
# that they are there before the static libraries are searched. lean_templates.h lets each
# program instantiate only the std::string members it calls; setup_rules.h makes a
# function-local static that needs a guard, and a format msvcrt reads otherwise, build
# errors (with -Werror=format). docs/build.md has these rules and why.
set(TSP_SETUP_CODE_OPTIONS
    "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${PROJECT_SOURCE_DIR}/src/app/lean_templates.h>"
    "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${PROJECT_SOURCE_DIR}/src/app/setup_rules.h>"
    -Werror=format)
set(TSP_SHIPPED_RUNTIME_SOURCES ${PROJECT_SOURCE_DIR}/src/app/lean_runtime.cpp
    ${PROJECT_SOURCE_DIR}/src/app/throw_helpers.cpp)
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/package/md5.cpp PROPERTIES COMPILE_OPTIONS "-O2;-fno-lto")
set_source_files_properties(${TSP_SHIPPED_RUNTIME_SOURCES} PROPERTIES COMPILE_OPTIONS "-fno-lto")
# The formats the compiler does not see (the string tables) or accepts although older msvcrt
# reads them otherwise ("ll"), checked before any setup code is compiled.
file(GLOB_RECURSE TSP_FORMAT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/*.cpp
    ${PROJECT_SOURCE_DIR}/src/*.h ${PROJECT_SOURCE_DIR}/src/*.rc)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/setup_formats.txt
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}/src -DSTAMP=${PROJECT_BINARY_DIR}/setup_formats.txt
            -P ${PROJECT_SOURCE_DIR}/cmake/check_formats.cmake
    DEPENDS ${TSP_FORMAT_SOURCES} ${PROJECT_SOURCE_DIR}/cmake/check_formats.cmake
    COMMENT "Checking the setup code's printf formats against msvcrt"
    VERBATIM)
add_custom_target(setup_formats DEPENDS ${PROJECT_BINARY_DIR}/setup_formats.txt)
# For the libraries of setup code and for every program built from them (the installers,
# their benchmark builds, an uninstaller): LTO and the options above; a program also gets
# the runtime replacements and the linker's map beside it, for bench/size_report.sh.
function(tsp_setup_code target)
    set_target_properties(${target} PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
    target_compile_options(${target} PRIVATE ${TSP_SETUP_CODE_OPTIONS})
    add_dependencies(${target} setup_formats)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        target_sources(${target} PRIVATE ${TSP_SHIPPED_RUNTIME_SOURCES})
        target_link_options(${target} PRIVATE -Wl,-Map=${PROJECT_BINARY_DIR}/${target}.map)
    endif()
endfunction()
foreach(target tsp_portable tsp_workstation tsp_server tsp_ui tsport_workstation_setup_image
        tsport_server_setup_image tsport_workstation_uninstall tsport_server_uninstall)
    tsp_setup_code(${target})
endforeach()

# Setup code that breaks the rules above, built only by the test windows_setup_rules
# (tests/rules), which expects each build to fail with its rule's error.
add_executable(rule_probe_guarded_static EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tests/rules/guarded_static.cpp)
add_library(rule_probe_formats STATIC EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tests/rules/formats.cpp)
target_include_directories(rule_probe_formats PRIVATE ${PROJECT_SOURCE_DIR}/src)
foreach(target rule_probe_guarded_static rule_probe_formats)
    tsp_setup_code(${target})
endforeach()

# The Wine test programs that run setup code link the setup programs' runtime as they do,
# so that what they test is what ships: the same libraries (compiled as setup code) and the
# same replacements in front of the static libraries. The test framework needs more of the
# library than the setup code does (the threads library, the other throw helpers), and what
# it brings defines replaced functions again: the first definition, the replacement's, is
# the one every caller reaches.
function(tsp_shipped_runtime target)
    target_sources(${target} PRIVATE ${TSP_SHIPPED_RUNTIME_SOURCES})
    target_link_options(${target} PRIVATE -Wl,--allow-multiple-definition)
endfunction()
foreach(target wine_guard_tests wine_seam_tests wine_engine_tests wine_payload_tests package_selftest_image
        wizard_host)
    tsp_shipped_runtime(${target})
endforeach()

# The runtime replacements on their own, linked as in the setup programs.
add_executable(wine_lean_runtime_tests ${PROJECT_SOURCE_DIR}/tests/wine/lean_runtime_test.cpp
    ${TSP_SHIPPED_RUNTIME_SOURCES})
target_compile_options(wine_lean_runtime_tests PRIVATE ${TSP_SETUP_CODE_OPTIONS})
target_link_libraries(wine_lean_runtime_tests PRIVATE ${TSP_ZLIB_STATIC})

# Benchmark builds (-DTSP_REALISTIC_PAYLOAD=ON): the installers packed with the stand-ins of
# the real sizes, once as shipped (realistic/, which the Wine check installs) and once built
# without the fixed pauses between the steps and with a peak-memory report (bench/), beside
# the floor program and the timer of bench/install_bench.sh. The pause-free build compiles
# the install process and the application again; its objects come first in the link, so
# the library's copies of them stay out.
# The targets exist in every build that has the padding tool; without the option they are
# left out of the default build, and the test windows_benchmark_build builds them (target
# benchmark_build), so that the documented benchmark build is the one the tests build.
if(TSP_PAD_TOOL)
    if(TSP_REALISTIC_PAYLOAD)
        set(all ALL)
    else()
        set(all)
    endif()
    set(TSP_REALISTIC_DIR ${PROJECT_BINARY_DIR}/realistic)
    set(TSP_BENCH_DIR ${PROJECT_BINARY_DIR}/bench)
    file(MAKE_DIRECTORY ${TSP_REALISTIC_DIR} ${TSP_BENCH_DIR})
    set(outputs)
    foreach(edition workstation server)
        string(TOUPPER ${edition} upper)
        set(bench_image tsport_${edition}_setup_bench_image)
        add_executable(${bench_image} WIN32 EXCLUDE_FROM_ALL ${TSP_APP_SOURCES}
            ${PROJECT_SOURCE_DIR}/src/app/${edition}_main.cpp
            ${PROJECT_SOURCE_DIR}/src/ui/resources/version_${edition}.rc
            ${PROJECT_SOURCE_DIR}/src/product/install_process.cpp
            ${PROJECT_SOURCE_DIR}/bench/peak_report.cpp)
        target_compile_definitions(${bench_image} PRIVATE TSP_NO_STEP_PAUSES)
        target_link_libraries(${bench_image} PRIVATE tsp_ui tsp_${edition} tsp_portable ${TSP_APP_LIBRARIES} psapi)
        target_include_directories(${bench_image} PRIVATE ${PROJECT_SOURCE_DIR}/src/ui/resources)
        tsp_setup_code(${bench_image})
        foreach(kind realistic bench)
            if(kind STREQUAL "realistic")
                set(image tsport_${edition}_setup_image)
                set(installer ${TSP_REALISTIC_DIR}/tsport_${edition}_setup.exe)
            else()
                set(image ${bench_image})
                set(installer ${TSP_BENCH_DIR}/tsport_${edition}_setup.exe)
            endif()
            add_custom_command(OUTPUT ${installer}
                COMMAND ${TSP_PACK_TOOL} --edition ${edition} --image $<TARGET_FILE:${image}> --output ${installer}
                        ${TSP_REALISTIC_${upper}_ENTRIES}
                DEPENDS ${image} ${TSP_PACK_TOOL} ${TSP_REALISTIC_${upper}_ENTRY_FILES}
                VERBATIM)
            list(APPEND outputs ${installer})
        endforeach()
    endforeach()
    # The end-to-end check runs the realistic installers beside the message-box watcher.
    add_custom_command(OUTPUT ${TSP_REALISTIC_DIR}/box_watcher.exe
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:box_watcher> ${TSP_REALISTIC_DIR}/box_watcher.exe
        DEPENDS box_watcher
        VERBATIM)
    add_custom_target(realistic_installers ${all} DEPENDS ${outputs} ${TSP_REALISTIC_DIR}/box_watcher.exe)
    add_dependencies(realistic_installers realistic_payload_files)

    # The floor carries the workstation entries as resources 1, 2, ... in stored order; the
    # header names them in the same order.
    set(rc_text "")
    set(names_text "")
    set(id 0)
    foreach(name path IN ZIP_LISTS TSP_WORKSTATION_ENTRY_NAMES TSP_REALISTIC_WORKSTATION_ENTRY_FILES)
        math(EXPR id "${id} + 1")
        string(APPEND rc_text "${id} RCDATA \"${path}\"\n")
        string(APPEND names_text "    \"${name}\",\n")
    endforeach()
    file(CONFIGURE OUTPUT ${TSP_BENCH_DIR}/install_floor.rc CONTENT "${rc_text}")
    file(CONFIGURE OUTPUT ${TSP_BENCH_DIR}/install_floor_entries.h
        CONTENT "// Generated: the names of resources 1, 2, ...\nconst char* const FLOOR_ENTRIES[] = {\n${names_text}};\n")
    set_source_files_properties(${TSP_BENCH_DIR}/install_floor.rc PROPERTIES
        OBJECT_DEPENDS "${TSP_REALISTIC_WORKSTATION_ENTRY_FILES}")
    add_executable(install_floor WIN32 EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/install_floor.cpp
        ${PROJECT_SOURCE_DIR}/bench/peak_report.cpp ${TSP_BENCH_DIR}/install_floor.rc)
    target_link_libraries(install_floor PRIVATE setupapi ole32 oleaut32 uuid shell32 advapi32 psapi)
    target_include_directories(install_floor PRIVATE ${TSP_BENCH_DIR})
    add_dependencies(install_floor realistic_payload_files)
    add_executable(run_timed EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/bench/run_timed.cpp)
    target_link_libraries(run_timed PRIVATE ole32 uuid user32 advapi32)
    set_target_properties(install_floor run_timed PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TSP_BENCH_DIR})
    add_custom_target(benchmark_build ${all})
    add_dependencies(benchmark_build realistic_installers install_floor run_timed)
endif()
