# Turns a font file into a C array: cmake -DINPUT=f.ttf -DOUTPUT=f.c -DNAME=symbol -P embed_font.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
if(digits EQUAL 0)
  message(FATAL_ERROR "embed_font: ${INPUT} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
file(WRITE "${OUTPUT}"
  "/* Generated from ${INPUT} at build time; licence: third_party/dejavu/LICENSE. */\n"
  "const unsigned char ${NAME}[] = {${body}};\n")
