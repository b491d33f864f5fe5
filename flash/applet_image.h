// The flash applet as the updater uploads it, whole, to APPLET_LOAD_ADDRESS
// (applet/mailbox.h); generated from the committed applet/applet.bin.
#pragma once

#include <span>

std::span<const unsigned char> applet_image();
