#include "app/input_file.h"

#include <fstream>

std::unique_ptr<std::streambuf> open_input_file(const char* name) {
    auto buffer = std::make_unique<std::filebuf>();
    if (!buffer->open(name, std::ios::in | std::ios::binary)) return nullptr;
    return buffer;
}
