# Writes a C++ source whose function NAME(), as declared in HEADER, gives the
# bytes of a file:
#   cmake -DINPUT=file -DOUTPUT=source.cpp -DNAME=symbol -DHEADER=dir/header.h -P embed_binary.cmake
foreach(variable INPUT OUTPUT NAME HEADER)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "embed_binary: ${variable} is not set")
  endif()
endforeach()

file(READ ${INPUT} digits HEX)
string(LENGTH "${digits}" digit_count)
if(digit_count EQUAL 0)
  message(FATAL_ERROR "embed_binary: ${INPUT} is empty")
endif()
math(EXPR size "${digit_count} / 2")

# Sixteen bytes a line.
set(lines "")
math(EXPR last_line_start "${digit_count} - 1")
foreach(start RANGE 0 ${last_line_start} 32)
  string(SUBSTRING "${digits}" ${start} 32 line)
  string(REGEX REPLACE "(..)" "0x\\1, " line "${line}")
  string(STRIP "${line}" line)
  string(APPEND lines "    ${line}\n")
endforeach()

get_filename_component(input_name ${INPUT} NAME)
file(WRITE ${OUTPUT} "// Generated from ${input_name} by embed_binary.cmake.
#include \"${HEADER}\"

namespace {
const unsigned char bytes[${size}] = {
${lines}};
}  // namespace

std::span<const unsigned char> ${NAME}() { return bytes; }
")
