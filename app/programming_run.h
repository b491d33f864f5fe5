// The programming run: applet, unlock and erase, write pass, verify pass,
// lock, boot bit. The outcome is shown to the operator; nothing is returned.
#pragma once

#include <istream>

// Reads the image through once, as far as the run will, and rewinds it.
// False when the image is empty (never firmware: an interrupted copy or the
// wrong file), a read failed before the end of the file or the rewind
// failed: such a file must not reach the device.
[[nodiscard]] bool image_is_usable(std::istream& image);

void run_programming(std::istream& image);
