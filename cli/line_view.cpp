#include "cli/line_view.h"

#include "cli/json.h"
#include "cli/platform.h"

#include <algorithm>

namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(200);
constexpr std::size_t bar_width = 20;
constexpr double shortest_rate_hours = 1.0 / 60;

std::string padded(const std::string& text, std::size_t width) {
    const std::size_t used = text_columns(text);
    return text + std::string(used < width ? width - used : 1, ' ');
}

// All but the last column, so that no live line wraps and the count of
// lines to go back over stays true.
std::size_t room_for_line() {
    const int width = terminal_columns(Stream::err);
    return static_cast<std::size_t>(width > 1 ? width : 80) - 1;
}

std::string bar(int percent) {
    const auto filled = static_cast<std::size_t>(std::clamp(percent, 0, 100)) * bar_width / 100;
    return "[" + std::string(filled, '#') + std::string(bar_width - filled, '-') + "]";
}

const char* result_word(const Texts& texts, const CommandResult& result) {
    if (result.stopped) return texts.word_stopped;
    return result.code == ExitCode::ok ? texts.word_pass : texts.word_fail;
}

}  // namespace

LineView::LineView(const Session& session, std::string watched)
    : session_(session),
      watched_(std::move(watched)),
      live_(!session.invocation.quiet && is_terminal(Stream::err)),
      sequences_(live_ && terminal_sequences(Stream::err)),
      plain_out_(!session.invocation.json && !(live_ && is_terminal(Stream::out))) {}

LineView::~LineView() {
    if (drawn_lines_ > 0) write_text(Stream::err, clearing());
}

void LineView::device_started(unsigned number, const std::string& port) {
    if (plain_out_ && !session_.invocation.quiet)
        keep(Stream::out, format(session_.texts.line_started, number, port.c_str()));
}

void LineView::device_ended(const CommandResult& result, const LineTotals& totals) {
    totals_ = totals;
    std::erase_if(active_, [&](const ActiveDevice& device) { return device.port == result.port; });
    if (session_.invocation.json) keep(Stream::out, result_json(result) + "\n");
    if (plain_out_) {
        std::string line = format(session_.texts.line_result, *result.number, result.port.c_str(),
                                  result_word(session_.texts, result), result.seconds);
        if (result.code != ExitCode::ok) line += format("  (%d) ", exit_number(result.code)) + result.detail;
        keep(Stream::out, line + "\n");
    }
    if (live_) keep(Stream::err, result_line(result) + "\n");
}

void LineView::show(const std::vector<ActiveDevice>& active, const LineTotals& totals) {
    active_ = active;
    totals_ = totals;
    if (!live_ || Clock::now() - drawn_at_ < redraw_interval) return;
    redraw("");
}

void LineView::note(const std::string& text) {
    if (!session_.invocation.quiet) keep(Stream::err, text);
}

void LineView::summary(const LineTotals& totals) {
    if (drawn_lines_ > 0) write_text(Stream::err, clearing());
    drawn_lines_ = 0;
    if (session_.invocation.json) {
        JsonObject json;
        json.add_string("command", "line")
            .add_bool("summary", true)
            .add_integer("done", totals.done)
            .add_integer("passed", totals.passed)
            .add_integer("failed", totals.failed)
            .add_integer("stopped", totals.stopped);
        write_text(Stream::out, json.text() + "\n");
        return;
    }
    write_text(Stream::out, format(session_.texts.line_summary, totals.done, totals.passed, totals.failed,
                                   totals.stopped));
}

std::vector<std::string> LineView::live_lines() const {
    const Texts& texts = session_.texts;
    std::vector<std::string> lines;
    for (const ActiveDevice& device : active_) {
        // Sharing one line, each device takes few columns.
        if (!sequences_) {
            lines.push_back(device.port + " " + device.phase + (device.percent ? format(" %d%%", *device.percent) : ""));
            continue;
        }
        std::string line = padded(device.port, 8) + padded(format("#%u", device.number), 6) + padded(device.phase, 14);
        if (device.percent) line += bar(*device.percent) + format(" %3d%%", *device.percent);
        lines.push_back(line);
    }
    if (active_.empty()) lines.push_back(format(texts.line_waiting, watched_.c_str()));
    std::string total = format(texts.line_total, totals_.done, totals_.passed, totals_.failed, totals_.stopped);
    // A rate from the first minutes would promise far too much.
    if (totals_.hours >= shortest_rate_hours) total += format(texts.line_per_hour, totals_.done / totals_.hours);
    lines.push_back(total);
    return lines;
}

std::string LineView::badge(const CommandResult& result) const {
    const std::string word = result_word(session_.texts, result);
    if (!sequences_) return "[  " + word + "  ]";
    // Bold white on green, red or yellow.
    const char* colour = result.stopped ? "43" : result.code == ExitCode::ok ? "42" : "41";
    return std::string("\x1b[1;97;") + colour + "m   " + word + "   \x1b[0m";
}

std::string LineView::result_line(const CommandResult& result) const {
    std::string line = padded(result.port, 8) + padded(format("#%u", *result.number), 6) + badge(result) +
                       format("  %.1f s", result.seconds);
    if (result.code != ExitCode::ok) line += format("  (%d) ", exit_number(result.code)) + result.detail;
    return line;
}

// Back over the live lines drawn last, erasing them.
std::string LineView::clearing() const {
    if (drawn_lines_ == 0) return "";
    if (sequences_) return "\r\x1b[" + std::to_string(drawn_lines_) + "A\x1b[J";
    return "\r" + std::string(drawn_width_, ' ') + "\r";
}

// Without sequences the live lines share one status line.
std::string LineView::drawing() {
    drawn_at_ = Clock::now();
    const std::size_t room = room_for_line();
    std::vector<std::string> lines = live_lines();
    if (sequences_) {
        std::string text;
        for (const std::string& line : lines) text += first_columns(line, room) + "\n";
        drawn_lines_ = lines.size();
        return text;
    }
    std::string joined;
    for (const std::string& line : lines) joined += (joined.empty() ? "" : " | ") + line;
    joined = first_columns(joined, room);
    drawn_width_ = text_columns(joined);
    drawn_lines_ = 1;
    return joined;
}

// One write, so that the terminal never shows the lines half redrawn.
void LineView::redraw(const std::string& kept) {
    std::string text = clearing();
    text += kept;
    text += drawing();
    write_text(Stream::err, text);
}

void LineView::keep(Stream stream, const std::string& text) {
    if (!live_) return write_text(stream, text);
    if (stream == Stream::err) return redraw(text);
    write_text(Stream::err, clearing());
    drawn_lines_ = 0;
    write_text(Stream::out, text);
    write_text(Stream::err, drawing());
}
