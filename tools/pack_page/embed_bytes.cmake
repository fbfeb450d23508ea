# cmake -DINPUT=<file> -DSYMBOL=<name> -DOUTPUT=<file.cpp> -P embed_bytes.cmake
# Writes a source file defining
#   extern const unsigned char <SYMBOL>[]; extern const std::size_t <SYMBOL>Size;
# with the input's bytes; build-time counterpart of mendly_embed.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
set(content "// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n")
string(APPEND content "extern const unsigned char ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}Size;\n")
string(APPEND content "const unsigned char ${SYMBOL}[] = {\n${bytes}0x00};\n")
string(APPEND content "const std::size_t ${SYMBOL}Size = ${size};\n")
file(WRITE "${OUTPUT}.tmp" "${content}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
