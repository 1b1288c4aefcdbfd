# Files for the package self-test: their names, sizes and patterns are mirrored in
# package_selftest.cpp, which checks what it finds appended to itself.
function(tsp_pattern_file path line size)
    string(LENGTH "${line}" line_length)
    math(EXPR repeats "${size} / ${line_length} + 1")
    string(REPEAT "${line}" ${repeats} text)
    string(SUBSTRING "${text}" 0 ${size} text)
    file(WRITE "${path}" "${text}")
endfunction()

function(tsp_write_selftest_payload dir out_entries)
    file(MAKE_DIRECTORY ${dir})
    tsp_pattern_file(${dir}/hello.txt "Hello from the package.\n" 24)
    tsp_pattern_file(${dir}/large.bin "0123456789abcdefghijklmnopqrstuvwxyz-large\n" 40000)
    tsp_pattern_file(${dir}/exact.bin "exactly two chunks|" 32768)
    tsp_pattern_file(${dir}/Readme.txt "Case matters.\n" 14)
    set(${out_entries}
        hello.txt=${dir}/hello.txt
        large.bin=${dir}/large.bin
        exact.bin=${dir}/exact.bin
        Readme.txt=${dir}/Readme.txt
        PARENT_SCOPE)
endfunction()
