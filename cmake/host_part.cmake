# The host part: portable code built natively, tested against the in-memory machine.
find_package(ZLIB REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
find_package(OpenSSL REQUIRED)
include(ExternalProject)
enable_testing()

add_compile_options(-Wall -Wextra -Wpedantic)

add_library(tsp_portable STATIC ${TSP_PORTABLE_SOURCES})
target_include_directories(tsp_portable PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tsp_portable PUBLIC ZLIB::ZLIB)

# The editions' tables and step bodies: a program links exactly one of them.
add_library(tsp_workstation STATIC ${TSP_WORKSTATION_SOURCES})
target_link_libraries(tsp_workstation PUBLIC tsp_portable)
add_library(tsp_server STATIC ${TSP_SERVER_SOURCES})
target_link_libraries(tsp_server PUBLIC tsp_portable)

add_library(tsp_fake STATIC ${TSP_FAKE_SOURCES})
target_include_directories(tsp_fake PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(tsp_fake PUBLIC tsp_portable)

add_library(tsp_pack_writer STATIC ${TSP_PACK_WRITER_SOURCES})
target_include_directories(tsp_pack_writer PUBLIC ${PROJECT_SOURCE_DIR}/tools)
# The entry lists come from the editions' tables (only their data objects are linked).
target_link_libraries(tsp_pack_writer PUBLIC tsp_portable tsp_workstation tsp_server)

add_executable(tsport_pack tools/pack/main.cpp)
target_link_libraries(tsport_pack PRIVATE tsp_pack_writer)

add_executable(tsport_winget ${TSP_WINGET_SOURCES})
target_include_directories(tsport_winget PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(tsport_winget PRIVATE OpenSSL::Crypto)
# Read back with a real YAML parser; the exit codes checked against the README's table.
add_test(NAME winget_manifest
    COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/unit/winget_manifest_test.py $<TARGET_FILE:tsport_winget>
        ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_BINARY_DIR}/winget_manifest_test
        ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})

# The setup programs' throw helpers (src/app/throw_helpers.cpp) in front of the library's: the
# tests see the exception types the setup programs throw.
add_executable(unit_tests ${TSP_UNIT_TEST_SOURCES} ${PROJECT_SOURCE_DIR}/src/app/throw_helpers.cpp)
target_link_libraries(unit_tests PRIVATE tsp_fake tsp_pack_writer GTest::gtest_main)
# The install-process tests drive both editions.
target_link_libraries(unit_tests PRIVATE tsp_workstation tsp_server)
target_compile_definitions(unit_tests PRIVATE TSP_PACK_TOOL="$<TARGET_FILE:tsport_pack>"
    TSP_PAD_TOOL="$<TARGET_FILE:tsport_pad>")
add_test(NAME unit_tests COMMAND unit_tests)

add_executable(bench_package bench/package_bench.cpp)
target_link_libraries(bench_package PRIVATE tsp_fake tsp_pack_writer benchmark::benchmark OpenSSL::Crypto)

# Stand-ins of the product's real sizes, for benchmarks (bench/install_bench.sh); the tests
# keep the small ones either way.
option(TSP_REALISTIC_PAYLOAD "Also build installers whose stand-ins have the product's real sizes" OFF)
add_executable(tsport_pad bench/payload_pad.cpp)
add_dependencies(unit_tests tsport_pad)

# The Windows programs, packed with the host's packing tool (see cmake/release.cmake).
tsp_check_release_options(QUIET)
ExternalProject_Add(windows_part
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/windows
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DTSP_PACK_TOOL=$<TARGET_FILE:tsport_pack>
        -DTSP_MANIFEST_TOOL=$<TARGET_FILE:tsport_winget>
        ${TSP_RELEASE_CACHE_ARGS}
        -DTSP_PAD_TOOL=$<TARGET_FILE:tsport_pad>
        -DTSP_REALISTIC_PAYLOAD=${TSP_REALISTIC_PAYLOAD}
    DEPENDS tsport_pack tsport_winget tsport_pad
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")

# The unit tests again under ASan and UBSan, and the package reader's fuzz target.
ExternalProject_Add(sanitize_part
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/sanitize
    CMAKE_ARGS
        -DCMAKE_C_COMPILER=clang
        -DCMAKE_CXX_COMPILER=clang++
        -DCMAKE_BUILD_TYPE=RelWithDebInfo
        -DTSP_SANITIZE_PART=ON
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")

set(TSP_SANITIZE_DIR ${PROJECT_BINARY_DIR}/sanitize)
add_test(NAME unit_tests_sanitized COMMAND ${TSP_SANITIZE_DIR}/unit_tests_sanitized)
set_tests_properties(unit_tests_sanitized PROPERTIES
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")
add_test(NAME fuzz_package_reader
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
        ${TSP_SANITIZE_DIR}/fuzz_package_reader -max_total_time=60 -rss_limit_mb=2048 -timeout=10
        -print_final_stats=1 ${TSP_SANITIZE_DIR}/fuzz_corpus)
set_tests_properties(fuzz_package_reader PROPERTIES TIMEOUT 300)

# The build refuses setup code that breaks its rules (docs/build.md). It builds in the
# Windows tree, as other tests do (resource lock windows_build_tree): one at a time.
add_test(NAME windows_setup_rules
    COMMAND ${CMAKE_COMMAND} -DWINDOWS_DIR=${PROJECT_BINARY_DIR}/windows -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
        -P ${PROJECT_SOURCE_DIR}/tests/rules/rules_test.cmake)
set_tests_properties(windows_setup_rules PROPERTIES RESOURCE_LOCK windows_build_tree TIMEOUT 600)

# The installers' code and data without resources: at most 192 KiB.
add_test(NAME windows_setup_size
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/rules/setup_size.sh 196608
        ${PROJECT_BINARY_DIR}/windows/tsport_workstation_setup_image.exe
        ${PROJECT_BINARY_DIR}/windows/tsport_server_setup_image.exe)

# The README's benchmark build, without its Wine benchmark: its targets are defined in this
# build too (left out of the default build without the option), so this builds them here.
add_test(NAME windows_benchmark_build
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/rules/benchmark_build.sh ${CMAKE_COMMAND} ${PROJECT_BINARY_DIR}/windows)
set_tests_properties(windows_benchmark_build PROPERTIES RESOURCE_LOCK windows_build_tree TIMEOUT 1200)

# End-to-end tests of the Windows programs under Wine: one template prefix per run,
# copied for every test.
set(TSP_WINDOWS_DIR ${PROJECT_BINARY_DIR}/windows)
set(TSP_WINE_DIR ${PROJECT_BINARY_DIR}/wine)
add_test(NAME wine_prefix_template
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/make_template.sh ${TSP_WINE_DIR}/template)
set_tests_properties(wine_prefix_template PROPERTIES FIXTURES_SETUP wine_template TIMEOUT 300)
add_test(NAME wine_package_selftest
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/run_in_prefix.sh
        ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/package_selftest 120
        ${TSP_WINDOWS_DIR}/package_selftest.exe)
set_tests_properties(wine_package_selftest PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 300)
add_test(NAME wine_seam_tests
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/run_in_prefix.sh
        ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/seam_tests 180
        ${TSP_WINDOWS_DIR}/wine_seam_tests.exe)
set_tests_properties(wine_seam_tests PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 300)
add_test(NAME wine_payload
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/run_in_prefix.sh
        ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/payload 240
        ${TSP_WINDOWS_DIR}/payload/wine_payload_tests.exe)
set_tests_properties(wine_payload PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 360)
add_test(NAME wine_engine
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/run_in_prefix.sh
        ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/engine 300
        ${TSP_WINDOWS_DIR}/payload/wine_engine_tests.exe)
set_tests_properties(wine_engine PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 420)
add_test(NAME wine_lean_runtime
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/run_in_prefix.sh
        ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/lean_runtime 60 ${TSP_WINDOWS_DIR}/wine_lean_runtime_tests.exe)
set_tests_properties(wine_lean_runtime PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 180)
add_test(NAME wine_guard
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/run_in_prefix.sh
        ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/guard 120 ${TSP_WINDOWS_DIR}/wine_guard_tests.exe)
set_tests_properties(wine_guard PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 300)
# The installers themselves, run with switches beside the message-box watcher.
foreach(case silent_workstation silent_server no_licence damaged failing failing_unattended failed_restart unpack
        advlog norestart server_win2k server_winxp)
    add_test(NAME wine_setup_${case}
        COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/installer_e2e.sh ${case}
            ${TSP_WINDOWS_DIR} ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/setup)
    set_tests_properties(wine_setup_${case} PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 480)
endforeach()
# A release build of its own from a release-shaped folder, signed with a certificate the
# test makes; the signed installer verified, installed, and refused once damaged.
add_test(NAME wine_release_signed
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/release_e2e.sh ${PROJECT_SOURCE_DIR} ${TSP_WINDOWS_DIR}
        ${TSP_WINE_DIR}/template ${PROJECT_BINARY_DIR}/release_test)
set_tests_properties(wine_release_signed PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 1500)
# The installed uninstaller of each edition, after the real installer in the same session.
foreach(case remove_workstation remove_server reinstall_workstation reinstall_server interactive_workstation
        inuse_workstation failed_upgrade_workstation failed_upgrade_server links_workstation squats_workstation)
    add_test(NAME wine_uninstall_${case}
        COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/uninstall_e2e.sh ${case}
            ${TSP_WINDOWS_DIR} ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/uninstall)
    set_tests_properties(wine_uninstall_${case} PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 600)
endforeach()
# With the stand-ins of the real sizes the installers still install (the same checks).
if(TSP_REALISTIC_PAYLOAD)
    foreach(case silent_workstation silent_server)
        add_test(NAME wine_setup_realistic_${case}
            COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/installer_e2e.sh ${case}
                ${TSP_WINDOWS_DIR}/realistic ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/realistic)
        set_tests_properties(wine_setup_realistic_${case} PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 480)
    endforeach()
endif()
# The wizard's pages under Xvfb, walked by the driver; a PNG of each page in wizard_shots.
add_test(NAME wine_wizard
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/wizard_test.sh
        ${TSP_WINDOWS_DIR} ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/wizard ${PROJECT_BINARY_DIR}/wizard_shots)
set_tests_properties(wine_wizard PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 900)
# DLL planting: every shipped program imports only KnownDLLs, and under Wine none of them
# loads a marker DLL planted where an ordinary user can write and the program looks first.
find_program(TSP_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
add_test(NAME windows_known_dll_imports
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/known_dll_imports.sh ${TSP_MINGW_OBJDUMP}
        ${TSP_WINDOWS_DIR}/tsport_workstation_setup.exe ${TSP_WINDOWS_DIR}/tsport_server_setup.exe
        ${TSP_WINDOWS_DIR}/uninstall/workstation/uninstall.exe ${TSP_WINDOWS_DIR}/uninstall/server/uninstall.exe)
foreach(road silent_workstation silent_server wizard_workstation uninstall_workstation uninstall_server
        resume_workstation)
    add_test(NAME wine_planting_${road}
        COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/planting_sweep.sh ${road}
            ${TSP_WINDOWS_DIR} ${TSP_WINE_DIR}/template ${TSP_WINE_DIR}/planting)
    set_tests_properties(wine_planting_${road} PROPERTIES FIXTURES_REQUIRED wine_template TIMEOUT 600)
endforeach()
