// The device stage: what happens on the boot monitor's port once the port
// search has found and opened it.
#pragma once

void run_device_stage();
