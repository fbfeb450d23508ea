# mendly_embed(<input file> <C++ symbol> <output .cpp>)
# Writes a source file that defines
#   extern const unsigned char <symbol>[]; extern const std::size_t <symbol>Size;
# holding the input's bytes. Regenerated when the input changes.
function(mendly_embed input symbol output)
  file(READ "${input}" hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n" bytes "${bytes}")
  set(content "// Generated from ${input}; do not edit.\n#include <cstddef>\n")
  string(APPEND content "extern const unsigned char ${symbol}[];\nextern const std::size_t ${symbol}Size;\n")
  string(APPEND content "const unsigned char ${symbol}[] = {\n${bytes}0x00};\n")
  string(APPEND content "const std::size_t ${symbol}Size = ${size};\n")
  file(GENERATE OUTPUT "${output}" CONTENT "${content}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${input}")
endfunction()
