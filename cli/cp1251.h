// The shared code's console texts are Windows-1251; zelmiran-flash shows
// and reports UTF-8.
#pragma once

#include <string>

[[nodiscard]] std::string utf8_from_cp1251(const char* text);
