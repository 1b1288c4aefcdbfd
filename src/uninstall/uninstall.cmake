# Each edition's uninstaller (Windows part): the same program linked with that edition, packed
# as the package entry uninstall.exe. Sets TSP_WORKSTATION_UNINSTALLER and TSP_SERVER_UNINSTALLER
# to the programs' paths.
enable_language(RC)

foreach(edition workstation server)
    string(TOUPPER ${edition} upper)
    set(target tsport_${edition}_uninstall)
    add_executable(${target} WIN32
        ${PROJECT_SOURCE_DIR}/src/app/app_framework.cpp
        ${PROJECT_SOURCE_DIR}/src/uninstall/uninstall_app.cpp
        ${PROJECT_SOURCE_DIR}/src/uninstall/${edition}_uninstall.cpp
        ${PROJECT_SOURCE_DIR}/src/uninstall/uninstall.rc
        ${PROJECT_SOURCE_DIR}/src/uninstall/version_${edition}.rc)
    # The manifest (and the file it names) is the installer's.
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/ui/resources)
    target_link_libraries(${target} PRIVATE tsp_${edition} tsp_portable ${TSP_WIN32_LIBRARIES})
    set(dir ${PROJECT_BINARY_DIR}/uninstall/${edition})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME uninstall RUNTIME_OUTPUT_DIRECTORY ${dir})
    set(TSP_${upper}_UNINSTALLER ${dir}/uninstall.exe)
endforeach()
