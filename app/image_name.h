// The platform's way to open the image by a job file's UTF-8 name.
#pragma once

#include <fstream>

// Wide characters on Windows, the bytes as they are on POSIX.
[[nodiscard]] bool open_by_utf8_name(std::ifstream& image, const char* utf8_name);
