// zelmiran-flash's own texts, English and Russian, UTF-8. Entries with %
// are printf formats.
#pragma once

#include "cli/platform.h"

#include <string>

struct Texts {
    const char* usage;
    const char* usage_hint;
    const char* no_command;
    const char* unknown_command;
    const char* unknown_option;
    const char* option_needs_value;
    const char* command_needs_file;
    const char* unexpected_argument;
    const char* bad_size;
    const char* bad_count;
    const char* bad_ports;
    const char* bad_jobs;
    const char* bad_address;
    const char* size_past_flash_end;
    const char* option_not_for_command;
    const char* standard_input;
    const char* standard_output;
    const char* format_raw;
    const char* check_rows;
    const char* check_writes;
    const char* run_failed;
    const char* written;
    const char* verify_match;
    const char* verify_differs;
    const char* verify_block_differs;
    const char* read_saved;
    const char* cannot_create;
    const char* not_regular_file;
    const char* boot_done;
    const char* restarted;
    const char* port_busy;
    const char* port_denied;
    const char* not_the_controller;
    const char* no_ports;
    const char* stopped_untouched;
    const char* stopped_in_programming_mode;
    const char* stopped_not_written;
    const char* line_stopping;
    const char* info_rows;
    const char* line_waiting;
    const char* line_started;
    const char* line_result;
    const char* line_total;
    const char* line_per_hour;
    const char* line_summary;
    const char* line_stopped_at_once;
    const char* word_pass;
    const char* word_fail;
    const char* word_stopped;
    const char* all_ports;
    const char* phase_connect;
    const char* phase_prepare;
    const char* phase_check;
    const char* phase_boot_bit;
    const char* worker_not_started;
    const char* worker_silent;
    const char* worker_ended;
    const char* worker_signal;
    const char* worker_exit;
    const char* pass_unlock;
    const char* pass_write;
    const char* pass_compare;
    const char* pass_lock;
    const char* pass_read;
    const char* pass_verify;
    const char* time_left;
};

const Texts& texts_for(Language language);

// printf into a std::string.
[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...);
