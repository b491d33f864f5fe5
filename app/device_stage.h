// The device stage: what happens on the boot monitor's port once the port
// search has found and opened it.
#pragma once

#include <cstdint>
#include <istream>

// no_answer: the rest of the greeting or the chip id did not arrive;
// wrong_controller: the chip is not an AT91SAM7SE512.
enum class [[nodiscard]] ControllerCheck : int { ok = 0, no_answer = 1, wrong_controller = 2 };

// Reads the rest of the monitor's answer to the greeting and the chip
// identification register (into `chip_id` once read) and checks it.
ControllerCheck check_controller(std::uint32_t& chip_id);

// `image` is the firmware image, positioned at its start.
void run_device_stage(std::istream& image);
