// What a person sees of the production line. On a terminal (standard error,
// not --quiet): a line per device being programmed and the running total,
// redrawn in place, and a result line per device with a large PASS or FAIL,
// in colour when the terminal has it. Otherwise a plain line per event on
// standard output; with --json one object per device and a summary object.
#pragma once

#include "cli/commands.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct ActiveDevice {
    std::string port;
    unsigned number = 0;
    std::string phase;
    std::optional<int> percent;  // none while the step's units are unknown
};

struct LineTotals {
    unsigned done = 0;
    unsigned passed = 0;
    unsigned failed = 0;
    unsigned stopped = 0;
    double hours = 0;  // since the line started
};

class LineView {
public:
    // `watched` names the ports in the waiting line: "COM1 to COM32".
    LineView(const Session& session, std::string watched);
    ~LineView();
    LineView(const LineView&) = delete;
    LineView& operator=(const LineView&) = delete;

    void device_started(unsigned number, const std::string& port);
    // With the totals that count it.
    void device_ended(const CommandResult& result, const LineTotals& totals);
    // The live lines, redrawn five times a second at most.
    void show(const std::vector<ActiveDevice>& active, const LineTotals& totals);
    // A diagnostic on standard error, unless --quiet.
    void note(const std::string& text);
    void summary(const LineTotals& totals);

private:
    std::vector<std::string> live_lines() const;
    std::string result_line(const CommandResult& result) const;
    std::string badge(const CommandResult& result) const;
    std::string clearing() const;
    std::string drawing();
    // Text that stays, written above the live lines.
    void keep(Stream stream, const std::string& text);
    void redraw(const std::string& kept);

    using Clock = std::chrono::steady_clock;
    const Session& session_;
    std::string watched_;
    bool live_;       // the terminal view on standard error
    bool sequences_;  // cursor moves and colour
    bool plain_out_;  // a plain line per event on standard output
    std::vector<ActiveDevice> active_;
    LineTotals totals_;
    std::size_t drawn_lines_ = 0;
    std::size_t drawn_width_ = 0;  // of the one status line without sequences
    Clock::time_point drawn_at_;
};
