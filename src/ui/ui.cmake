# The wizard (Windows part): the pages as a library the installers link, their resources,
# and the programs that show and drive them under Wine.
enable_language(RC)

add_library(tsp_ui STATIC
    ${PROJECT_SOURCE_DIR}/src/app/exception_guard.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/dialog.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/page_look.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/pages.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/wizard.cpp)
target_link_libraries(tsp_ui PUBLIC tsp_portable gdi32 user32 shell32 ole32)
# The installers' resource scripts include wizard.rc; its pictures sit beside it.
set(TSP_UI_RESOURCE_DIR ${PROJECT_SOURCE_DIR}/src/ui/resources)

add_executable(wizard_host WIN32
    ${PROJECT_SOURCE_DIR}/tests/wine/wizard_host.cpp
    ${PROJECT_SOURCE_DIR}/tests/wine/wizard_fit.cpp
    ${PROJECT_SOURCE_DIR}/tests/wine/wizard_host.rc)
target_link_libraries(wizard_host PRIVATE tsp_ui)
target_include_directories(wizard_host PRIVATE ${TSP_UI_RESOURCE_DIR})

add_executable(wizard_driver ${PROJECT_SOURCE_DIR}/tests/wine/wizard_driver.cpp)
target_link_libraries(wizard_driver PRIVATE user32 gdi32 comctl32)
