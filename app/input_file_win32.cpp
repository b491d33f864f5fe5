#include "app/input_file.h"

#include <fstream>
#include <string>
#include <windows.h>

std::unique_ptr<std::streambuf> open_input_file(const char* name) {
    auto buffer = std::make_unique<std::filebuf>();
    if (!buffer->open(name, std::ios::in | std::ios::binary)) return nullptr;
    return buffer;
}

std::unique_ptr<std::streambuf> open_input_file_utf8(const char* utf8_name) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8_name, -1, nullptr, 0);
    if (length <= 0) return nullptr;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8_name, -1, wide.data(), length);
    auto buffer = std::make_unique<std::filebuf>();
    if (!buffer->open(wide.c_str(), std::ios::in | std::ios::binary)) return nullptr;
    return buffer;
}
