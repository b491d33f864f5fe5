// The programming run as the operator sees it: applet, unlock and erase,
// write pass, verify pass, lock, boot bit, with their console lines and the
// final box.
#pragma once

#include <cstdint>
#include <istream>

// Reads the image through once, as far as the run will, and rewinds it.
// False when the image is empty (never firmware: an interrupted copy or the
// wrong file), a read failed before the end of the file or the rewind
// failed: such a file must not reach the device.
[[nodiscard]] bool image_is_usable(std::istream& image);

void run_programming(std::istream& image);
// The same, writing and comparing at most `page_limit` pages (and never
// more than the flash holds): an image of exactly that many whole pages
// then gets no page after its end.
void run_programming(std::istream& image, std::int16_t page_limit);
