// What the updater shows on a Linux console, as the tests look for it.
#pragma once

#include <string>

// A message box with this caption is among the console output.
inline bool shows_box(const std::string& out, const std::string& caption) {
    return out.find("| " + caption + " ") != std::string::npos;
}
