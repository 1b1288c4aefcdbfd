# cmake -DSOURCE_DIR=<src> -DSTAMP=<file> -P check_formats.cmake
#
# The printf formats of the setup code as the shipped formatter (msvcrt) reads them. The
# compiler checks the formats it sees (src/app/setup_rules.h), but not those of the string
# tables, which the programs load at run time, and it accepts "ll", which msvcrt.dll of older
# Windows reads as "l". So every string literal of the sources and every string of the
# resource scripts under SOURCE_DIR is read here: a directive (a % with flags, width and
# precision, then a conversion letter) may have no length modifier but h or l, and convert
# with d, i, o, u, x, X, c, s or p only. Each one that does not is named; then this fails.
# Text that is no directive (%TEMP%) passes. STAMP is written when all pass.
file(GLOB_RECURSE files ${SOURCE_DIR}/*.cpp ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.rc)
list(SORT files)
set(bad 0)
set(checked 0)
foreach(file ${files})
    file(STRINGS ${file} lines)
    set(number 0)
    foreach(line IN LISTS lines)
        math(EXPR number "${number} + 1")
        if(NOT line MATCHES "%" OR line MATCHES "^[ \t]*//")
            continue()
        endif()
        string(REGEX MATCHALL "\"([^\"\\\\]|\\\\.)*\"" literals "${line}")
        foreach(literal IN LISTS literals)
            string(REGEX MATCHALL "%[-+ #0]*([0-9]+|[*])?([.]([0-9]+|[*])?)?(hh|ll|I32|I64|[hljztLqIw])?[A-Za-z%]"
                directives "${literal}")
            foreach(directive IN LISTS directives)
                string(REGEX MATCH "(hh|ll|I32|I64|[hljztLqIw])?([A-Za-z%])$" tail "${directive}")
                set(modifier "${CMAKE_MATCH_1}")
                set(conversion "${CMAKE_MATCH_2}")
                if(conversion STREQUAL "%")
                    continue()  # %% (a modifier before it is read as a conversion below)
                endif()
                if(NOT conversion MATCHES "^[diouxXcspaAeEfFgGnCS]$" AND modifier STREQUAL "")
                    continue()  # no directive: a letter printf does not convert
                endif()
                math(EXPR checked "${checked} + 1")
                if(NOT modifier MATCHES "^[hl]?$" OR NOT conversion MATCHES "^[diouxXcsp]$")
                    file(RELATIVE_PATH where ${SOURCE_DIR}/.. ${file})
                    message("${where}:${number}: format directive \"${directive}\" in ${literal}: "
                            "the setup programs' formatter (msvcrt) may read it otherwise; "
                            "use flags, width, precision, h or l, and d i o u x X c s p")
                    math(EXPR bad "${bad} + 1")
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()
if(bad GREATER 0)
    message(FATAL_ERROR "${bad} format directive(s) msvcrt may not read as C99 does (docs/build.md)")
endif()
file(WRITE ${STAMP} "${checked} format directives checked\n")
