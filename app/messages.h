// The operator messages: the catalogue of message boxes and the console
// texts the updater writes beside its steps' own lines.
#pragma once

#include "ui/dialog.h"

void box_error_1();  // the job file is missing
void box_error_2();  // the job file's content is wrong
void box_error_3();  // the firmware file cannot be opened
void box_error_4();  // no device, or a read with no port open
void box_error_5();  // the controller cannot be read or is the wrong one
void box_error_7();  // cancelling programming mode failed
void box_error_11(); // the programming run failed
void box_mode_cancelled();
void box_write_done();

// The two questions; each returns answer_yes, answer_no or (first only)
// answer_cancel.
int ask_start_programming();
int ask_cancel_mode();

// print_plain of a printf-formatted text.
[[gnu::format(printf, 1, 2)]] void print_formatted(const char* format, ...);

// oem_print of a Windows-1251 text whose one "%s" stands for `name`, which
// is written as it is (a port's path need not be Windows-1251).
void oem_print_with_name(const char* text, const char* name);

// The starred banner that ends a successful run: `headline`, then the request
// to switch the device off and unplug it.
void print_switch_off_banner(const char* headline);
