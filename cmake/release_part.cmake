# A release: the host's packing and manifest tools and the two installers, packed from the
# product's files (TSPORT_PAYLOAD_DIR), signed when a certificate is given, and described by
# winget manifests when a release URL is given. No tests, benchmarks, stand-ins beyond what
# the installers carry, or sanitizer part.
if(NOT TSPORT_PAYLOAD_DIR)
    message(FATAL_ERROR "A release is packed from the product's files: give -DTSPORT_PAYLOAD_DIR=<folder> "
                        "(or set the environment variable TSPORT_PAYLOAD_DIR); see README.md, Releasing")
endif()
tsp_check_release_options(QUIET)  # now, not only once the Windows part is configured
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED)
include(ExternalProject)

add_compile_options(-Wall -Wextra -Wpedantic)
add_executable(tsport_pack tools/pack/main.cpp src/package/md5.cpp src/package/package_layout.cpp
    ${TSP_PACK_WRITER_SOURCES} ${TSP_EDITION_TABLE_SOURCES})
target_include_directories(tsport_pack PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(tsport_pack PRIVATE ZLIB::ZLIB)
add_executable(tsport_winget ${TSP_WINGET_SOURCES})
target_include_directories(tsport_winget PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(tsport_winget PRIVATE OpenSSL::Crypto)

# Only the installers and what they need; the make jobs are shared with this build.
ExternalProject_Add(windows_part
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/windows
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
        -DCMAKE_BUILD_TYPE=Release
        -DTSP_PACK_TOOL=$<TARGET_FILE:tsport_pack>
        -DTSP_MANIFEST_TOOL=$<TARGET_FILE:tsport_winget>
        ${TSP_RELEASE_CACHE_ARGS}
    BUILD_COMMAND $(MAKE) tsport_workstation_setup tsport_server_setup
    DEPENDS tsport_pack tsport_winget
    BUILD_ALWAYS ON
    INSTALL_COMMAND "")
