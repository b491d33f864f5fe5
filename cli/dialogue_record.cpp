// The dialogue back end of zelmiran-flash: nothing is shown and nothing is
// asked; boxes become the outcome, console text the detail.
#include "cli/dialogue_record.h"

#include "cli/cp1251.h"
#include "cli/progress.h"
#include "ui/dialog.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

// Lock regions the chip has, for the erase and lock bars.
constexpr int lock_regions = 32;
constexpr int page_bytes = 1024;

DialogueRecord record;
std::string open_line;
ProgressBar* bar = nullptr;
PassLabels pass_labels;
int pages_in_image = 0;
bool pass_started = false;
RunPass current_pass = RunPass::erase;

// Progress marks and frames: runs of dots or stars, and the search's port
// marks (".3.", ".2..3.").
bool is_mark(const std::string& word) {
    if (word.find_first_not_of(".*") == std::string::npos) return true;
    return word.front() == '.' && word.back() == '.' && word.find_first_not_of(".0123456789") == std::string::npos;
}

void close_line() {
    std::istringstream words(open_line);
    std::string line;
    for (std::string word; words >> word;) {
        if (is_mark(word)) continue;
        if (!line.empty()) line += ' ';
        line += word;
    }
    if (!line.empty()) record.lines.push_back(line);
    open_line.clear();
}

void add_text(const std::string& text) {
    for (const char c : text) {
        if (c == '\n') close_line();
        else open_line += c;
    }
}

const std::string& label_of(RunPass pass) {
    switch (pass) {
    case RunPass::erase: return pass_labels.erase;
    case RunPass::write: return pass_labels.write;
    case RunPass::compare: return pass_labels.compare;
    case RunPass::lock: return pass_labels.lock;
    }
    return pass_labels.write;
}

}  // namespace

void begin_dialogue_record(ProgressBar* progress, const PassLabels& labels, int image_pages) {
    record = {};
    open_line.clear();
    bar = progress;
    pass_labels = labels;
    pages_in_image = image_pages;
    pass_started = false;
}

DialogueRecord end_dialogue_record() {
    close_line();
    if (bar && pass_started) bar->end();
    bar = nullptr;
    return record;
}

std::string joined_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "; ") + line;
    return text;
}

// Only programs that ask link the updater's questions; zelmiran-flash runs
// its steps directly, so a question here is answered with the choice that
// changes nothing.
int show_message_box(const char* caption, const char* text, unsigned style) {
    (void)text;
    switch (style & 0x0F) {
    case box_yes_no_cancel: return answer_cancel;
    case box_yes_no: return answer_no;
    }
    if (std::strncmp(caption, "Error ", 6) == 0) {
        record.error_box = std::atoi(caption + 6);
        record.success_box = false;
    } else {
        record.error_box = 0;
        record.success_box = true;
    }
    return answer_ok;
}

void oem_print(const char* text) { add_text(utf8_from_cp1251(text)); }

void print_plain(const char* text) { add_text(text); }

void print_file_name(const char* raw, NameEncoding encoding) {
    add_text(encoding == NameEncoding::utf8 ? std::string(raw) : utf8_from_cp1251(raw));
}

void show_page_done(RunPass pass, int pages_done) {
    if (!bar) return;
    const bool by_region = pass == RunPass::erase || pass == RunPass::lock;
    if (!pass_started || pass != current_pass) {
        bar->begin(label_of(pass), by_region ? lock_regions : pages_in_image, by_region ? 0 : page_bytes);
        pass_started = true;
        current_pass = pass;
    }
    bar->update(static_cast<std::uint64_t>(pages_done));
}
