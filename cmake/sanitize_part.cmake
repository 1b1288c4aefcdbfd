# The sanitizer part (clang): the unit tests under ASan and UBSan, and the fuzz target
# of the package reader.
find_package(ZLIB REQUIRED)
find_package(GTest REQUIRED)

set(TSP_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
# Coverage instrumentation everywhere, so the fuzzer sees inside the reader.
add_compile_options(${TSP_SANITIZE_FLAGS} -fsanitize=fuzzer-no-link -Wall -Wextra)
add_link_options(${TSP_SANITIZE_FLAGS})

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

# With the setup programs' throw helpers, as unit_tests (see host_part.cmake).
add_executable(unit_tests_sanitized ${TSP_UNIT_TEST_SOURCES} ${PROJECT_SOURCE_DIR}/src/app/throw_helpers.cpp)
target_link_libraries(unit_tests_sanitized PRIVATE tsp_fake tsp_pack_writer GTest::gtest_main)
# The install-process tests drive both editions.
target_link_libraries(unit_tests_sanitized PRIVATE tsp_workstation tsp_server)
add_executable(tsport_pad bench/payload_pad.cpp)
target_compile_definitions(unit_tests_sanitized PRIVATE TSP_PACK_TOOL="$<TARGET_FILE:tsport_pack>"
    TSP_PAD_TOOL="$<TARGET_FILE:tsport_pad>")
add_dependencies(unit_tests_sanitized tsport_pad)

add_executable(fuzz_package_reader tests/fuzz/package_reader_fuzz.cpp src/app/throw_helpers.cpp)
target_compile_options(fuzz_package_reader PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_package_reader PRIVATE -fsanitize=fuzzer)
target_link_libraries(fuzz_package_reader PRIVATE tsp_fake)

# Seeds: small valid packages, so the fuzzer starts inside the format.
add_executable(fuzz_seeds tests/fuzz/make_seeds.cpp)
target_link_libraries(fuzz_seeds PRIVATE tsp_pack_writer)
add_custom_command(TARGET fuzz_seeds POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/fuzz_corpus
    COMMAND fuzz_seeds ${PROJECT_BINARY_DIR}/fuzz_corpus)
