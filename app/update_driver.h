// The update driver: the whole job, once, from the banner to the release of
// the port and the firmware file.
#pragma once

#include <fstream>

// The firmware image, opened by the driver and read page by page by the
// programming run.
extern std::ifstream firmware_stream;

void run_update();
