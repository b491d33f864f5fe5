#include "cli/progress.h"

#include "cli/platform.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t bar_columns = 30;
// Shorter than this a bar tells too little to be worth its columns.
constexpr std::size_t fewest_bar_columns = 10;
constexpr std::size_t label_columns = 12;
// Often enough to look alive, seldom enough to cost nothing.
constexpr auto redraw_interval = std::chrono::milliseconds(100);

// All but the last column: a console that wraps as soon as its last column is
// written would put every redraw on a line of its own. Asked at each redraw,
// so that a resized window is followed.
std::size_t room_for_line() {
    const int width = terminal_columns(Stream::err);
    return static_cast<std::size_t>(width > 0 ? width : 80) - 1;
}

std::string bar(std::uint64_t done, std::uint64_t total, std::size_t width) {
    const auto filled = static_cast<std::size_t>(done * width / total);
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

// The percent after what fits of the label's column; the percent keeps its
// place, so that the label does not shrink as it grows.
std::string percent_only(const std::string& label, const std::string& numbers, std::size_t room) {
    // Nothing rather than a number cut short.
    if (room + 1 < numbers.size()) return "";
    const std::size_t kept = std::min(room, numbers.size());
    return first_columns(label, room - kept) + numbers.substr(numbers.size() - kept);
}

}  // namespace

// Columns a UTF-8 text takes: one per character.
std::size_t text_columns(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `count` characters of a UTF-8 text, none of them cut in two.
std::string first_columns(const std::string& text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count) return text.substr(0, i);
    return text;
}

ProgressBar::ProgressBar(bool shown, std::string left_word) : shown_(shown), left_word_(std::move(left_word)) {}

ProgressBar::~ProgressBar() { end(); }

void ProgressBar::begin(const std::string& label, std::uint64_t total, std::uint64_t step_bytes) {
    end();
    label_ = label;
    total_ = std::max<std::uint64_t>(total, 1);
    step_bytes_ = step_bytes;
    done_ = 0;
    active_ = true;
    drawn_width_ = 0;
    started_ = Clock::now();
    if (shown_) draw();
}

void ProgressBar::update(std::uint64_t done) {
    if (!active_) return;
    done_ = std::min(done, total_);
    if (shown_ && (done_ == total_ || Clock::now() - drawn_at_ >= redraw_interval)) draw();
}

void ProgressBar::end() {
    if (!active_) return;
    active_ = false;
    if (shown_) {
        draw();
        write_text(Stream::err, "\n");
    }
}

void ProgressBar::draw() {
    drawn_at_ = Clock::now();
    const std::size_t room = room_for_line();
    std::string line = line_within(room);
    // Blanks over what a longer line drawn before left behind.
    const std::size_t width = text_columns(line);
    if (width < drawn_width_) line.append(std::min(drawn_width_, room) - width, ' ');
    drawn_width_ = std::max(drawn_width_, width);
    write_text(Stream::err, "\r" + line);
}

// The bar gives up columns first, then the rate and time left go, then the bar.
std::string ProgressBar::line_within(std::size_t room) const {
    const unsigned percent = static_cast<unsigned>(done_ * 100 / total_);
    const std::string label = label_ + std::string(std::max(label_columns, text_columns(label_) + 1) - text_columns(label_), ' ');
    char numbers_text[16];
    std::snprintf(numbers_text, sizeof numbers_text, " %3u%%", percent);
    const std::string numbers = numbers_text;
    const std::string tail = rate_and_time_left();
    // Kept free before the rate shows, so that the bar does not shrink then.
    const std::size_t tail_room = step_bytes_ > 0 ? std::max(text_columns(tail), text_columns(rate_text(0.0, 0))) : 0;
    const std::size_t fixed = text_columns(label) + 2 + numbers.size();
    if (fixed + fewest_bar_columns + tail_room <= room)
        return label + bar(done_, total_, std::min(bar_columns, room - fixed - tail_room)) + numbers + tail;
    if (fixed + fewest_bar_columns <= room)
        return label + bar(done_, total_, std::min(bar_columns, room - fixed)) + numbers;
    return percent_only(label, numbers, room);
}

// Empty until the pass has run long enough for a rate worth showing.
std::string ProgressBar::rate_and_time_left() const {
    const double seconds = std::chrono::duration<double>(drawn_at_ - started_).count();
    if (step_bytes_ == 0 || seconds <= 0.2 || done_ == 0) return "";
    const double rate = static_cast<double>(done_ * step_bytes_) / 1024.0 / seconds;
    return rate_text(rate, static_cast<unsigned>(static_cast<double>(total_ - done_) * seconds / static_cast<double>(done_)));
}

std::string ProgressBar::rate_text(double rate, unsigned left) const {
    char text[64];
    std::snprintf(text, sizeof text, "  %7.1f KiB/s  %u:%02u ", rate, left / 60, left % 60);
    return text + left_word_;
}
