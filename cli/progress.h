// The progress bar of one pass on standard error: percent, KiB/s and time
// left, redrawn in place within the terminal's width. Off when standard error is no terminal or with
// --quiet; then every call does nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressBar {
public:
    // `left_word` follows the time left ("left", "осталось").
    ProgressBar(bool shown, std::string left_word);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // A new pass of `total` steps of `step_bytes` each (0: no rate shown);
    // the line of the previous pass is finished first.
    void begin(const std::string& label, std::uint64_t total, std::uint64_t step_bytes);
    void update(std::uint64_t done);
    // Finishes the pass's line, so that what follows starts on its own.
    void end();
    const std::string& label() const { return label_; }
    bool shown() const { return shown_; }

private:
    void draw();
    std::string line_within(std::size_t room) const;
    std::string rate_and_time_left() const;
    std::string rate_text(double rate, unsigned left) const;

    using Clock = std::chrono::steady_clock;
    bool shown_;
    std::string left_word_;
    std::string label_;
    std::uint64_t total_ = 0;
    std::uint64_t step_bytes_ = 0;
    std::uint64_t done_ = 0;
    bool active_ = false;
    std::size_t drawn_width_ = 0;
    Clock::time_point started_;
    Clock::time_point drawn_at_;
};

// Columns a UTF-8 text takes: one per character.
std::size_t text_columns(const std::string& text);
// The first `count` characters of a UTF-8 text, none of them cut in two.
std::string first_columns(const std::string& text, std::size_t count);
