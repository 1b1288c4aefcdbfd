# cmake -DWINDOWS_DIR=<Windows build> -DSOURCE_DIR=<source tree> -P rules_test.cmake
#
# The build refuses setup code that breaks its rules (docs/build.md): the probes beside this
# file are built as setup code, and each must fail with its rule's own error.
set(failures 0)
# run_refused(NAME OUTPUT_VARIABLE COMMAND...): runs the command, which must fail.
function(run_refused name out)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output
        TIMEOUT 300)
    if(result EQUAL 0)
        message("FAILED: ${name} was accepted")
        math(EXPR failures "${failures} + 1")
        set(failures ${failures} PARENT_SCOPE)
    endif()
    set(${out} "${output}" PARENT_SCOPE)
endfunction()
function(expect name output regex)
    if(output MATCHES "${regex}")
        message("ok: ${name}")
    else()
        message("FAILED: ${name}: no match for ${regex} in:\n${output}")
        math(EXPR failures "${failures} + 1")
        set(failures ${failures} PARENT_SCOPE)
    endif()
endfunction()

run_refused("a function-local static" output ${CMAKE_COMMAND} --build ${WINDOWS_DIR} --target rule_probe_guarded_static)
expect("a function-local static is refused at the link" "${output}"
    "guarded_static[.]cpp:6:[0-9]+: error: call to [^ ]*__cxa_guard_acquire[^ ]* declared with attribute error")

run_refused("formats" output ${CMAKE_COMMAND} --build ${WINDOWS_DIR} --target rule_probe_formats)
expect("%zu in snprintf is refused" "${output}" "formats[.]cpp:9:[0-9]+: error: unknown conversion type character [^ ]*z")
expect("%zu in DebugTrace is refused" "${output}" "formats[.]cpp:10:[0-9]+: error: unknown conversion type character [^ ]*z")

run_refused("the format check" output ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR}/tests/rules
    -DSTAMP=${WINDOWS_DIR}/rule_probe_formats.txt -P ${SOURCE_DIR}/cmake/check_formats.cmake)
expect("%lld, which the compiler accepts, is named" "${output}" "formats[.]cpp:11: format directive \"%lld\"")
expect("a string table's %hhu is named" "${output}" "formats[.]rc:4: format directive \"%hhu\"")

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} rule(s) not enforced")
endif()
