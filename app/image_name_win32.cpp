#include "app/image_name.h"

#include <string>
#include <windows.h>

bool open_by_utf8_name(std::ifstream& image, const char* utf8_name) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8_name, -1, nullptr, 0);
    if (length <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8_name, -1, wide.data(), length);
    image.open(wide.c_str(), std::ios::binary);
    return image.is_open();
}
