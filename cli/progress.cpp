#include "cli/progress.h"

#include "cli/platform.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int bar_columns = 30;
// Often enough to look alive, seldom enough to cost nothing.
constexpr auto redraw_interval = std::chrono::milliseconds(100);

// Columns a UTF-8 text takes: one per character.
std::size_t columns(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

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
    const double seconds = std::chrono::duration<double>(drawn_at_ - started_).count();
    const auto filled = static_cast<int>(done_ * bar_columns / total_);
    char numbers[96];
    int length = std::snprintf(numbers, sizeof numbers, "] %3u%%", static_cast<unsigned>(done_ * 100 / total_));
    if (step_bytes_ > 0 && seconds > 0.2 && done_ > 0) {
        const double rate = static_cast<double>(done_ * step_bytes_) / 1024.0 / seconds;
        const auto left = static_cast<unsigned>(static_cast<double>(total_ - done_) * seconds / static_cast<double>(done_));
        length += std::snprintf(numbers + length, sizeof numbers - static_cast<std::size_t>(length),
                                "  %7.1f KiB/s  %u:%02u ", rate, left / 60, left % 60);
    }
    std::string line = "\r" + label_;
    line.append(std::max<std::size_t>(12, columns(label_) + 1) - columns(label_), ' ');
    line += "[" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(bar_columns - filled), '-') + numbers;
    if (step_bytes_ > 0 && seconds > 0.2 && done_ > 0) line += left_word_;
    // Blanks over what a longer line drawn before left behind.
    const std::size_t width = columns(line);
    if (width < drawn_width_) line.append(drawn_width_ - width, ' ');
    drawn_width_ = std::max(drawn_width_, width);
    write_text(Stream::err, line);
}
