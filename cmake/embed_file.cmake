# cmake -DINPUT=FILE -DOUTPUT=FILE.cpp -DNAME=kSymbol -P embed_file.cmake
# Writes a C++ file holding INPUT's bytes as `const unsigned char NAME[]`
# and its length as `const size_t NAMESize`, in namespace zenta::bridge. An
# INPUT that does not exist gives an empty array (length 0).
set(bytes "")
set(length 0)
if(EXISTS "${INPUT}")
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR length "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
endif()
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}.\n#include <cstddef>\n\nnamespace zenta::bridge {\n\n"
  "extern const unsigned char ${NAME}[];\nextern const size_t ${NAME}Size;\n"
  "const unsigned char ${NAME}[] = {\n${bytes}0};\nconst size_t ${NAME}Size = ${length};\n\n"
  "}  // namespace zenta::bridge\n")
