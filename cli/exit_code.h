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
    hung_up = 129,        // SIGHUP, or the console closed, before the command was done
    interrupted = 130,    // SIGINT (Ctrl-C)
    terminated = 143,     // SIGTERM
};

inline int exit_number(ExitCode code) { return static_cast<int>(code); }

// 128 plus the signal's number, as shells report it.
inline ExitCode stopped_by(int signal_number) { return static_cast<ExitCode>(128 + signal_number); }
