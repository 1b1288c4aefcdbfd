# The planting sweep's Windows programs (Windows part): a marker DLL under each name a shipped
# program loads that is not a KnownDLL, in planted/, and the sweep's helper. A name a program
# imports statically is followed by the functions it imports from it; the marker exports
# them, so that it can stand in for the real DLL.
set(TSP_PLANTED_NAMES
    msimg32:AlphaBlend
    newdev:UpdateDriverForPlugAndPlayDevicesA
    riched32
    riched20
    usp10
    comctl32
    uxtheme
    mpr
    hnetcfg
    actxprxy)  # the proxies of the shell's interfaces, when the program is started through it
foreach(entry ${TSP_PLANTED_NAMES})
    string(REPLACE ":" ";" parts ${entry})
    list(POP_FRONT parts name)
    set(def ${PROJECT_BINARY_DIR}/planted_defs/${name}.def)
    set(text "LIBRARY ${name}.dll\nEXPORTS\n")
    foreach(function ${parts})
        string(APPEND text "    ${function}=MarkerStub\n")
    endforeach()
    file(CONFIGURE OUTPUT ${def} CONTENT "${text}")
    add_library(planted_${name} SHARED ${PROJECT_SOURCE_DIR}/tests/wine/planted_marker.cpp ${def})
    set_target_properties(planted_${name} PROPERTIES OUTPUT_NAME ${name} PREFIX ""
        RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/planted)
endforeach()
# The names the sweep plants, one a line.
string(REGEX REPLACE ":[^;]*" "" names "${TSP_PLANTED_NAMES}")
string(REPLACE ";" "\n" names "${names}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/planted/names.txt CONTENT "${names}\n")
add_executable(planting_helper ${PROJECT_SOURCE_DIR}/tests/wine/planting_helper.cpp)
