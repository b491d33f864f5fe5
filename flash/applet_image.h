// The flash applet as the updater uploads it: entered at applet_load_address in ARM state.
#pragma once

#include <cstdint>

constexpr std::uint32_t applet_load_address = 0x00202000;
constexpr std::uint32_t applet_mailbox_address = 0x00202004;
extern const unsigned char applet_image[];
extern const std::uint32_t applet_image_size;
