# Records which compiler built the applet: the first line of its --version.
#   cmake -DCOMPILER=arm-none-eabi-gcc -DOUTPUT=file -P toolchain_line.cmake
execute_process(COMMAND ${COMPILER} --version OUTPUT_VARIABLE version COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "^[^\n]*" line "${version}")
file(WRITE ${OUTPUT} "${line}\n")
