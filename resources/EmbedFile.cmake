# Turns a binary file into a C++ source that defines its bytes as an array.
# Usage: cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedFile.cmake
# The generated source defines, in namespace pelldrin,
#   extern const unsigned char SYMBOL[];  extern const std::size_t SYMBOLSize;
if(NOT INPUT OR NOT OUTPUT OR NOT SYMBOL)
  message(FATAL_ERROR "EmbedFile.cmake needs INPUT, OUTPUT and SYMBOL")
endif()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
# Sixteen bytes a line keeps the generated file readable in a diff or a debugger.
string(REPEAT "[0-9a-f]" 32 line)
string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${name} at build time; do not edit.\n"
  "#include <cstddef>\n\n"
  "namespace pelldrin {\n\n"
  "extern const unsigned char ${SYMBOL}[];\n"
  "extern const std::size_t ${SYMBOL}Size;\n\n"
  "const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
  "const std::size_t ${SYMBOL}Size = ${size};\n\n"
  "} // namespace pelldrin\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
