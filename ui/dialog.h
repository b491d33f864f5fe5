// The operator dialogue: message boxes, console text and run progress. Every
// line the shared code shows goes through here, so that each program decides
// what to make of it. The updater has one back end per platform
// (dialog_posix.cpp, dialog_win32.cpp), chosen by the build; other programs
// and the fuzz targets link their own.
#pragma once

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

// How the job file's name was taken to open the image: as_read, its bytes as
// they are (on Windows in the ANSI code page); utf8, as UTF-8 after any
// byte-order mark.
enum class NameEncoding { as_read, utf8 };
// Echoes the image's name, `raw` as the job file holds it, decoded as
// `encoding` says where the console shows characters rather than bytes.
void print_file_name(const char* raw, NameEncoding encoding);

// The passes of a programming run that go step by step: erase and lock by
// lock region (the unlocks before the erase, the locks), write and compare
// by page.
enum class RunPass { erase, write, compare, lock };
// One more region or page of `pass` is done; `pages_done` counts from 1.
void show_page_done(RunPass pass, int pages_done);
