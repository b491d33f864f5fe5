// The update driver: the whole job, once, from the banner to the release of
// the port and the firmware file.
#pragma once

void run_update();
