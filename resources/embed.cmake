# Writes OUT, a C++ file with one byte array per file of INPUTS, named
# kResource_<file name with non-identifier characters as "_">.
file(WRITE ${OUT} "// Generated from the files in resources/. Do not edit.\n#include <cstddef>\nnamespace vespar {\n")
foreach(f ${INPUTS})
  get_filename_component(name ${f} NAME)
  string(MAKE_C_IDENTIFIER ${name} id)
  file(READ ${f} hex HEX)
  string(LENGTH "${hex}" hexlen)
  math(EXPR size "${hexlen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  file(APPEND ${OUT} "extern const unsigned char kResource_${id}[${size}] = {${bytes}};\nextern const size_t kResource_${id}_size = ${size};\n")
endforeach()
file(APPEND ${OUT} "}  // namespace vespar\n")
