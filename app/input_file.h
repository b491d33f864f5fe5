// Opening the job file and the firmware image for reading: one
// implementation per platform (input_file_posix.cpp, input_file_win32.cpp),
// chosen by the build.
#pragma once

#include <memory>
#include <streambuf>

// The file's contents as a seekable binary stream buffer; null when it cannot
// be opened. Opening never waits: on POSIX only a regular file opens, since
// a FIFO would block until a writer came and a device never ends.
std::unique_ptr<std::streambuf> open_input_file(const char* name);

// The same for a name a job file holds in UTF-8: by its wide-character name
// on Windows; on POSIX, where names are bytes, as it is.
std::unique_ptr<std::streambuf> open_input_file_utf8(const char* utf8_name);
