// The device stage: what happens on the boot monitor's port once the port
// search has found and opened it.
#pragma once

#include <istream>

// `image` is the firmware image, positioned at its start.
void run_device_stage(std::istream& image);
