#include "app/device_stage.h"

// The controller check, the operator's choice and the chosen action come with
// the monitor commands and the flash work.
void run_device_stage() {}
