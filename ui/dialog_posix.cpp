#include "ui/dialog.h"

#include "ui/console_box.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

namespace {

const char* icon_kind(unsigned style) {
    switch (style & 0xF0) {
    case box_icon_error: return "error";
    case box_icon_warning: return "warning";
    case box_icon_information: return "information";
    default: return "message";
    }
}

const char* button_row(unsigned style) {
    switch (style & 0x0F) {
    case box_yes_no_cancel: return "[ Yes ]  [ No ]  [ Cancel ]";
    case box_yes_no: return "[ Yes ]  [ No ]";
    default: return "[ OK ]";
    }
}

void draw_rule(std::FILE* out, std::size_t width) {
    std::fputc('+', out);
    for (std::size_t i = 0; i < width + 2; ++i) std::fputc('-', out);
    std::fputs("+\n", out);
}

// Windows-1251 holds one character per byte, so byte counts are column counts.
void draw_row(std::FILE* out, std::size_t width, const std::string& left, const std::string& right,
              std::size_t shown_length) {
    std::fprintf(out, "| %s%*s%s |\n", left.c_str(), static_cast<int>(width - shown_length), "",
                 right.c_str());
}

void draw_box(std::FILE* out, const char* caption, const char* text, unsigned style) {
    const std::string kind = std::string("[") + icon_kind(style) + "]";
    const std::string buttons = button_row(style);
    const std::size_t width = std::max({std::strlen(caption) + 2 + kind.size(), std::strlen(text),
                                        buttons.size()});
    std::fputc('\n', out);
    draw_rule(out, width);
    draw_row(out, width, to_console_encoding(caption), kind, std::strlen(caption) + kind.size());
    draw_rule(out, width);
    draw_row(out, width, to_console_encoding(text), "", std::strlen(text));
    draw_rule(out, width);
    draw_row(out, width, buttons, "", buttons.size());
    draw_rule(out, width);
}

// Reads one line without its line break and surrounding blanks; false at end of input.
bool read_answer(std::FILE* in, std::string& answer) {
    char* line = nullptr;
    std::size_t capacity = 0;
    const ssize_t length = getline(&line, &capacity, in);
    if (length >= 0) {
        answer.assign(line, static_cast<std::size_t>(length));
        const auto first = answer.find_first_not_of(" \t\r\n");
        const auto last = answer.find_last_not_of(" \t\r\n");
        answer = first == std::string::npos ? "" : answer.substr(first, last - first + 1);
    }
    std::free(line);
    return length >= 0;
}

int parse_answer(const std::string& answer, bool with_cancel) {
    const char* text = answer.c_str();
    if (!strcasecmp(text, "y") || !strcasecmp(text, "yes")) return answer_yes;
    if (!strcasecmp(text, "n") || !strcasecmp(text, "no")) return answer_no;
    if (with_cancel && (!strcasecmp(text, "c") || !strcasecmp(text, "cancel"))) return answer_cancel;
    return 0;
}

int ask(std::FILE* in, std::FILE* out, bool interactive, bool with_cancel) {
    const char* prompt = with_cancel ? "Answer [y]es, [n]o or [c]ancel: " : "Answer [y]es or [n]o: ";
    for (;;) {
        std::fputs(prompt, out);
        std::fflush(out);
        std::string answer;
        if (!read_answer(in, answer)) {
            std::fputs(interactive ? "\n" : "(end of input)\n", out);
            return with_cancel ? answer_cancel : answer_no;
        }
        if (!interactive) std::fprintf(out, "%s\n", answer.c_str());
        if (const int choice = parse_answer(answer, with_cancel)) return choice;
        std::fputs(with_cancel ? "Please answer y, n or c.\n" : "Please answer y or n.\n", out);
    }
}

}  // namespace

int console_message_box(std::FILE* in, std::FILE* out, bool interactive, const char* caption,
                        const char* text, unsigned style) {
    draw_box(out, caption, text, style);
    switch (style & 0x0F) {
    case box_yes_no_cancel: return ask(in, out, interactive, true);
    case box_yes_no: return ask(in, out, interactive, false);
    }
    if (interactive) {
        std::fputs("Press Enter to continue ", out);
        std::fflush(out);
        std::string ignored;
        read_answer(in, ignored);
    }
    std::fflush(out);
    return answer_ok;
}

std::string to_console_encoding(const char* text) {
    static const iconv_t converter = [] {
        std::setlocale(LC_CTYPE, "");
        const char* locale = std::setlocale(LC_CTYPE, nullptr);
        const bool plain = !locale || !std::strcmp(locale, "C") || !std::strcmp(locale, "POSIX");
        const std::string target = std::string(plain ? "UTF-8" : nl_langinfo(CODESET)) + "//TRANSLIT";
        return iconv_open(target.c_str(), "CP1251");
    }();
    const std::size_t length = std::strlen(text);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(text, length);

    // Four bytes per character cover every target encoding of these texts.
    std::string result(length * 4 + 1, '\0');
    char* source = const_cast<char*>(text);
    std::size_t source_left = length;
    char* target = result.data();
    std::size_t target_left = result.size();
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    while (source_left > 0 &&
           iconv(converter, &source, &source_left, &target, &target_left) == static_cast<std::size_t>(-1)) {
        if (errno != EILSEQ && errno != EINVAL) break;
        *target++ = '?';
        --target_left;
        ++source;
        --source_left;
    }
    result.resize(result.size() - target_left);
    return result;
}

int show_message_box(const char* caption, const char* text, unsigned style) {
    std::fflush(stdout);
    return console_message_box(stdin, stdout, isatty(STDIN_FILENO), caption, text, style);
}

void oem_print(const char* text) {
    std::fputs(to_console_encoding(text).c_str(), stdout);
}
