# Writes the sandbox's template files into a header as byte arrays, so that the
# program carries its sandbox wherever it is installed.
function(embed name file)
    file(READ ${file} hex HEX)
    string(LENGTH "${hex}" length)
    math(EXPR size "${length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    file(APPEND ${OUT} "inline constexpr unsigned char ${name}[] = {${bytes}};\n")
    file(APPEND ${OUT} "inline constexpr unsigned long ${name}Size = ${size};\n")
endfunction()

file(WRITE ${OUT} "// Generated from src/sandbox/template when the program is built.\n#pragma once\n")
embed(kSandboxRegText ${TEMPLATE}/sandbox.reg)
embed(kSandboxFileList ${TEMPLATE}/files.txt)
embed(kSandbox10RegText ${TEMPLATE10}/sandbox.reg)
embed(kSandbox10FileList ${TEMPLATE10}/files.txt)
