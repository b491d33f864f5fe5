#include "ui/dialog.h"

#include "ui/console_box.h"
#include "ui/name_encoding.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
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

// The dialogue's own words, Windows-1251 like every operator text. Captions
// and box texts are the program's and never change with the language.
struct Words {
    const char* yes_no_cancel;
    const char* yes_no;
    const char* ok;
    const char* ask_three;
    const char* ask_two;
    const char* again_three;
    const char* again_two;
    const char* press_enter;
    const char* end_of_input;
};

const Words english_words = {
    "[ Yes ]  [ No ]  [ Cancel ]",
    "[ Yes ]  [ No ]",
    "[ OK ]",
    "Answer [y]es, [n]o or [c]ancel: ",
    "Answer [y]es or [n]o: ",
    "Please answer y, n or c.\n",
    "Please answer y or n.\n",
    "Press Enter to continue ",
    "(end of input)\n",
};

const Words russian_words = {
    "[ Да ]  [ Нет ]  [ Отмена ]",
    "[ Да ]  [ Нет ]",
    "[ OK ]",
    "Ответ: [д]а, [н]ет или [о]тмена: ",
    "Ответ: [д]а или [н]ет: ",
    "Ответьте д, н или о.\n",
    "Ответьте д или н.\n",
    "Нажмите Enter, чтобы продолжить ",
    "(конец ввода)\n",
};

const Words& words_of(DialogueLanguage language) {
    return language == DialogueLanguage::russian ? russian_words : english_words;
}

const char* button_row(unsigned style, const Words& words) {
    switch (style & 0x0F) {
    case box_yes_no_cancel: return words.yes_no_cancel;
    case box_yes_no: return words.yes_no;
    default: return words.ok;
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

void draw_box(std::FILE* out, const char* caption, const char* text, unsigned style, const Words& words) {
    const std::string kind = std::string("[") + icon_kind(style) + "]";
    const char* buttons = button_row(style, words);
    const std::size_t width = std::max({std::strlen(caption) + 2 + kind.size(), std::strlen(text),
                                        std::strlen(buttons)});
    std::fputc('\n', out);
    draw_rule(out, width);
    draw_row(out, width, to_console_encoding(caption), kind, std::strlen(caption) + kind.size());
    draw_rule(out, width);
    draw_row(out, width, to_console_encoding(text), "", std::strlen(text));
    draw_rule(out, width);
    draw_row(out, width, to_console_encoding(buttons), "", std::strlen(buttons));
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

// Case folding of Windows-1251: ASCII, А to Я, and Ё.
std::string fold_case(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDF)) c = static_cast<char>(byte + 0x20);
        else if (byte == 0xA8) c = static_cast<char>(0xB8);
    }
    return text;
}

int parse_answer(const std::string& typed, bool with_cancel, DialogueLanguage language) {
    struct Choice {
        const char* letter;
        const char* word;
        int answer;
    };
    static const Choice english[] = {{"y", "yes", answer_yes}, {"n", "no", answer_no}, {"c", "cancel", answer_cancel}};
    static const Choice russian[] = {{"д", "да", answer_yes}, {"н", "нет", answer_no}, {"о", "отмена", answer_cancel}};
    const std::string answer = fold_case(from_console_encoding(typed));
    for (const Choice* choices : {english, russian}) {
        if (choices == russian && language != DialogueLanguage::russian) break;
        for (int i = 0; i < (with_cancel ? 3 : 2); ++i)
            if (answer == choices[i].letter || answer == choices[i].word) return choices[i].answer;
    }
    return 0;
}

int ask(std::FILE* in, std::FILE* out, bool interactive, bool with_cancel, const Words& words,
        DialogueLanguage language) {
    const std::string prompt = to_console_encoding(with_cancel ? words.ask_three : words.ask_two);
    const std::string again = to_console_encoding(with_cancel ? words.again_three : words.again_two);
    for (;;) {
        std::fputs(prompt.c_str(), out);
        std::fflush(out);
        std::string answer;
        if (!read_answer(in, answer)) {
            std::fputs(interactive ? "\n" : to_console_encoding(words.end_of_input).c_str(), out);
            return with_cancel ? answer_cancel : answer_no;
        }
        if (!interactive) std::fprintf(out, "%s\n", answer.c_str());
        if (const int choice = parse_answer(answer, with_cancel, language)) return choice;
        std::fputs(again.c_str(), out);
    }
}

// The converters between Windows-1251 and the console's encoding: that of the
// locale's character type, UTF-8 when the locale names none (C or POSIX).
const std::string& console_encoding() {
    static const std::string console = [] {
        std::setlocale(LC_CTYPE, "");
        const char* locale = std::setlocale(LC_CTYPE, nullptr);
        const bool plain = !locale || !std::strcmp(locale, "C") || !std::strcmp(locale, "POSIX");
        return std::string(plain ? "UTF-8" : nl_langinfo(CODESET));
    }();
    return console;
}

bool console_is_utf8() {
    static const bool utf8 = [] {
        std::string name = console_encoding();
        std::erase(name, '-');
        for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name == "UTF8";
    }();
    return utf8;
}

// Between UTF-8 and a console of another encoding (KOI8-R, say).
iconv_t locale_converter(bool to_console) {
    static const iconv_t to = iconv_open((console_encoding() + "//TRANSLIT").c_str(), "UTF-8");
    static const iconv_t from = iconv_open("UTF-8", console_encoding().c_str());
    return to_console ? to : from;
}

// Converts with iconv; a byte that has no counterpart becomes '?'.
std::string convert(iconv_t converter, const char* text, std::size_t length) {
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

}  // namespace

int console_message_box(std::FILE* in, std::FILE* out, bool interactive, const char* caption,
                        const char* text, unsigned style, DialogueLanguage language) {
    const Words& words = words_of(language);
    draw_box(out, caption, text, style, words);
    switch (style & 0x0F) {
    case box_yes_no_cancel: return ask(in, out, interactive, true, words, language);
    case box_yes_no: return ask(in, out, interactive, false, words, language);
    }
    if (interactive) {
        std::fputs(to_console_encoding(words.press_enter).c_str(), out);
        std::fflush(out);
        std::string ignored;
        read_answer(in, ignored);
    }
    std::fflush(out);
    return answer_ok;
}

namespace {

std::string console_from_utf8(const std::string& text) {
    return console_is_utf8() ? text : convert(locale_converter(true), text.data(), text.size());
}

}  // namespace

std::string to_console_encoding(const char* text) { return console_from_utf8(utf8_from_cp1251(text)); }

std::string from_console_encoding(const std::string& text) {
    return cp1251_from_utf8(console_is_utf8() ? text : convert(locale_converter(false), text.data(), text.size()));
}

int show_message_box(const char* caption, const char* text, unsigned style) {
    std::fflush(stdout);
    static const DialogueLanguage language = dialogue_language();
    return console_message_box(stdin, stdout, isatty(STDIN_FILENO), caption, text, style, language);
}

void oem_print(const char* text) {
    std::fputs(to_console_encoding(text).c_str(), stdout);
}

void print_plain(const char* text) { std::fputs(text, stdout); }

// File names are bytes here; a job file may hold the name in UTF-8 or, as
// written on Windows, in Windows-1251: either is shown readable.
void print_file_name(const char* raw, NameEncoding encoding) {
    const char* name = encoding == NameEncoding::utf8 ? without_byte_order_mark(raw) : raw;
    if (encoding == NameEncoding::cp1251 || text_kind(name) == TextKind::other) oem_print(name);
    else std::fputs(console_from_utf8(name).c_str(), stdout);
}

