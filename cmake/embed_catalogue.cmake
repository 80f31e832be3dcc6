# Writes the compiled catalogue MO as a C++ array in OUT.
file(READ ${MO} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Made by the build from po/ja.po; not edited by hand.\n#include <cstddef>\n\nnamespace vorcnt {\n\n"
  "extern const unsigned char kJapaneseCatalogue[] = {\n${bytes}};\n"
  "extern const std::size_t kJapaneseCatalogueSize = ${size};\n\n}  // namespace vorcnt\n")
