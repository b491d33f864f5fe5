// The operator dialogue: message boxes and console text. One back end per
// platform (dialog_posix.cpp, dialog_win32.cpp), chosen by the build; the
// fuzz target links its own.
#pragma once

#include "ui/text_encoding.h"

// Message-box styles, as the Win32 MessageBox flags.
constexpr unsigned box_ok = 0x00;
constexpr unsigned box_yes_no_cancel = 0x03;
constexpr unsigned box_yes_no = 0x04;
constexpr unsigned box_icon_error = 0x10;
constexpr unsigned box_icon_warning = 0x30;
constexpr unsigned box_icon_information = 0x40;

// Buttons a box can return, as the Win32 IDOK, IDCANCEL, IDYES and IDNO.
constexpr int answer_ok = 1;
constexpr int answer_cancel = 2;
constexpr int answer_yes = 6;
constexpr int answer_no = 7;

// Shows a modal box with a Windows-1251 caption and text; returns the button
// the operator chose (answer_ok for boxes that only inform).
int show_message_box(const char* caption, const char* text, unsigned style);

// Writes one Windows-1251 text to standard output, converted to the
// console's encoding.
void oem_print(const char* text);

// Writes ASCII text (marks, codes, addresses, line breaks) as it is.
void print_plain(const char* text);

// Echoes the image's name, `raw` as the job file holds it, decoded as
// `encoding` says (after any UTF-8 byte-order mark) where the console shows
// characters rather than bytes.
void print_file_name(const char* raw, NameEncoding encoding);
