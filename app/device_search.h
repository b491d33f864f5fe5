// The port search as the operator sees it.
#pragma once

#include "link/serial.h"

// Searches COM1 to COM32, showing ".n." for each port that opens, then the
// line's end and, when no device answered, a line for each port another
// program holds or the user may not use. The port that answered stays open.
PortSearch find_device_port();
