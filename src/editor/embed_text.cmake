# Turns a text file into a C++ source defining `const char NAME[]` (zero-terminated) and
# `const std::size_t NAME_size` (bytes without the terminator):
#   cmake -DINPUT=f.form -DOUTPUT=f.cpp -DNAME=symbol -P embed_text.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
if(digits EQUAL 0)
  message(FATAL_ERROR "embed_text: ${INPUT} is empty")
endif()
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT} at build time.\n"
  "#include <cstddef>\n"
  "extern const char ${NAME}[];\n"
  "extern const std::size_t ${NAME}_size;\n"
  "const char ${NAME}[] = {${body}0};\n"
  "const std::size_t ${NAME}_size = ${size};\n")
