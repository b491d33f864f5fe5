#include "app/image_name.h"

// File names are bytes here: a UTF-8 name is opened as it is.
bool open_by_utf8_name(std::ifstream& image, const char* utf8_name) {
    image.open(utf8_name, std::ios::binary);
    return image.is_open();
}
