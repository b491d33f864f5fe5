#include "ui/dialog.h"

#include "ui/messages.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

int show_message_box(const char* caption, const char* text, unsigned style) {
    std::fflush(stdout);
    return MessageBoxA(nullptr, text, caption, style);
}

void oem_print(const char* text) {
    char* converted = new char[std::strlen(text) + 1];
    CharToOemA(text, converted);
    std::fputs(converted, stdout);
    delete[] converted;
}

void print_plain(const char* text) { std::fputs(text, stdout); }

void show_page_done(RunPass pass, int pages_done) { print_page_dot(pass, pages_done); }
