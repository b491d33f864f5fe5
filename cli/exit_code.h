// zelmiran-flash's exit codes: the error numbers operators and support know
// from the updater's boxes, and the usual ones of command-line tools.
#pragma once

enum class [[nodiscard]] ExitCode : int {
    ok = 0,
    bad_image = 3,        // the image cannot be read or is not valid
    no_device = 4,        // no device, or the port cannot be used
    no_monitor = 5,       // the monitor does not answer, or the wrong controller
    boot_bit_failed = 7,  // the boot bit could not be set
    run_failed = 11,      // the programming run failed
    differs = 12,         // verify found a difference
    usage = 64,           // unknown command or option
    cannot_create = 73,   // the output file or the log cannot be written
    interrupted = 130,    // Ctrl-C before the command was done
};

inline int exit_number(ExitCode code) { return static_cast<int>(code); }
