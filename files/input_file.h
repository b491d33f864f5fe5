// Opening and reading input files (job files, images), one back end per
// platform (input_file_posix.cpp, input_file_win32.cpp). Only regular files
// are read, and opening never waits: a FIFO, a terminal, a folder or a
// device is refused before anything is read from it; on Windows so is a
// device name (CON, NUL, AUX, PRN, COM1-COM9, LPT1-LPT9, with or without an
// extension, in any folder) and any \\.\ or \\?\ path, since opening COM3
// would take the port from the program that needs it.
#pragma once

#include "ui/text_encoding.h"

#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

// cannot_open: for another reason than the ones before it; too_large and
// read_failed only come from read_regular_file.
enum class [[nodiscard]] FileRead {
    done, not_found, access_denied, cannot_open, not_regular_file, too_large, read_failed
};

struct OpenedFile {
    FileRead outcome = FileRead::cannot_open;
    long system_code = 0;                    // errno or GetLastError() of the failed call; 0 when none
    std::unique_ptr<std::streambuf> buffer;  // seekable and binary; set only when outcome is done
};

// Opens the file `name`, whose bytes are in `encoding`, for reading.
[[nodiscard]] OpenedFile open_regular_file(const std::string& name, NameEncoding encoding);

// Reads the whole file into `contents`; a file longer than `size_limit` is
// refused (too_large) without being read. `contents` is empty on failure.
[[nodiscard]] FileRead read_regular_file(const std::string& name, NameEncoding encoding, std::uint64_t size_limit,
                                         std::vector<unsigned char>& contents, long& system_code);
