#include "sim/server.h"

#include "sim/monitor.h"
#include "sim/output_queue.h"
#include "sim/pty_link.h"
#include "sim/status.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// SIGINT, SIGTERM and SIGUSR1, taken as events of the serving loop.
class SignalWatch {
public:
    SignalWatch() {
        sigemptyset(&set_);
        for (const int signal : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&set_, signal);
        sigprocmask(SIG_BLOCK, &set_, nullptr);
        fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    }
    // The signals stay blocked: serving ends the program, and a SIGTERM that
    // comes while it winds up on its own (after --close-after) must not end
    // it by the default action, as killed rather than exited.
    ~SignalWatch() { close(fd_); }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    int fd() const { return fd_; }
    // The next signal that arrived, or 0.
    int next() {
        signalfd_siginfo info;
        return read(fd_, &info, sizeof info) == sizeof info ? static_cast<int>(info.ssi_signo) : 0;
    }

private:
    sigset_t set_;
    int fd_ = -1;
};

void remove_ready_marker(const std::filesystem::path& ready) {
    std::error_code ignored;
    if (!ready.empty()) std::filesystem::remove(ready, ignored);
}

// Longer than the system takes to pass written bytes on to the port's input.
constexpr Clock::duration settle = std::chrono::milliseconds(10);
constexpr Clock::duration hang_up_limit = std::chrono::seconds(1);
// A full-speed bulk packet: a reply arrives in pieces of this size, each
// when the link has carried it.
constexpr std::size_t usb_packet_size = 64;

Clock::duration milliseconds(double ms) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms));
}

class Server {
public:
    Server(Device& device, const ServeOptions& options)
        : device_(device), options_(options), link_(options.link),
          monitor_(device, [this](const Reply& reply) { send(reply); }, options.faults.flipped_byte),
          shaper_(options.faults),
          output_(options.faults.trickle_ms) {}

    int run() {
        announce();
        while (!stopping_) serve_once();
        report_status();
        device_.sync();
        remove_ready_marker(options_.ready);
        return 0;
    }

private:
    void announce() {
        std::fprintf(stderr, "zelmiran-sim: link %s -> %s\n", options_.link.c_str(), link_.slave_path().c_str());
        if (options_.ready.empty()) return;
        std::ofstream ready(options_.ready, std::ios::trunc);
        ready << link_.slave_path() << "\n";
    }

    void serve_once() {
        const Clock::time_point now = Clock::now();
        const std::optional<Clock::time_point> due = output_.next_due();
        const bool writable_wanted = due && *due <= now && link_.master() >= 0;
        pollfd entries[3] = {{link_.master(), static_cast<short>(POLLIN | (writable_wanted ? POLLOUT : 0)), 0},
                             {link_.port_watch(), POLLIN, 0},
                             {signals_.fd(), POLLIN, 0}};
        const std::optional<timespec> wait = wait_time(now);
        if (ppoll(entries, 3, wait ? &*wait : nullptr, nullptr) < 0 && errno != EINTR)
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        take_signals();
        take_input();
        monitor_.expire(Clock::now());
        counters_.bytes_out += link_.master() >= 0 ? output_.send_due(link_.master(), Clock::now()) : 0;
        hang_up_once_delivered(Clock::now());
    }

    // A hang-up throws away what the user has not read, so the last reply
    // must be read first: it is, once the port's input stays empty a moment
    // after the last byte, or the user has had a second for it.
    void hang_up_once_delivered(Clock::time_point now) {
        if ((!shaper_.hanging_up() && !monitor_.gone()) || !output_.empty()) return;
        if (!delivered_since_) delivered_since_ = now;
        const Clock::duration waited = now - *delivered_since_;
        if ((waited >= settle && link_.unread() == 0) || waited >= hang_up_limit) {
            link_.hang_up();
            stopping_ = true;
        }
    }

    // Until the next byte is due or a partial command runs out of patience.
    // Kept to the nanosecond: the modelled reply latency is a millisecond.
    std::optional<timespec> wait_time(Clock::time_point now) const {
        std::optional<Clock::time_point> wake = monitor_.deadline();
        const std::optional<Clock::time_point> due = output_.next_due();
        if (due && *due > now && (!wake || *due < *wake)) wake = due;
        if (delivered_since_) wake = now + settle;
        if (!wake) return std::nullopt;
        const long long left = std::max<long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - now).count(), 0);
        return timespec{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
    }

    void take_signals() {
        for (int signal; (signal = signals_.next()) != 0;) {
            if (signal == SIGUSR1) report_status();
            else stopping_ = true;
        }
    }

    // Everything that has arrived. Port events are taken after the bytes, so
    // a new user's opening is seen before any of its bytes are answered.
    void take_input() {
        std::vector<std::uint8_t> input;
        std::uint8_t buffer[4096];
        while (const std::size_t got = link_.read(buffer, sizeof buffer)) {
            input.insert(input.end(), buffer, buffer + got);
            if (input.size() >= 1 << 16) break;
        }
        const PtyLink::PortEvents events = link_.take_port_events();
        // Replies still waiting for an earlier user do not reach the new one.
        if (events.new_user) output_.clear();
        counters_.bytes_in += input.size();
        const Clock::time_point now = Clock::now();
        if (!input.empty()) link_until_ = std::max(now, link_until_) + carry(input.size());
        monitor_.receive(input.data(), input.size(), now);
        if (device_.resets() != resets_told_) {
            resets_told_ = device_.resets();
            std::fputs(monitor_.gone() ? "zelmiran-sim: reset with GPNVM2 set: the firmware runs, the monitor is gone\n"
                                       : "zelmiran-sim: reset: the monitor starts anew and waits for a greeting\n",
                       stderr);
        }
    }

    // The modelled time `count` bytes take on the link, added to the total.
    Clock::duration carry(std::size_t count) {
        if (options_.link_bytes_per_ms <= 0) return Clock::duration::zero();
        const double ms = static_cast<double>(count) / options_.link_bytes_per_ms;
        counters_.transfer_ms += ms;
        return milliseconds(ms);
    }

    void send(const Reply& reply) {
        if (reply.hung)
            std::fprintf(stderr, "zelmiran-sim: the code started by G did not return (%s); the device answers nothing more\n",
                         monitor_.hang()->c_str());
        const std::vector<std::uint8_t> bytes = shaper_.shape(reply);
        if (bytes.empty()) return;
        ++counters_.replies_out;
        counters_.latency_ms += options_.latency_ms;
        // The device answers once it has taken the frame in and carried it
        // out; then the link carries the reply, one packet after another.
        const Clock::time_point start = std::max(Clock::now(), link_until_ + milliseconds(reply.device_ms));
        const Clock::duration latency = milliseconds(options_.latency_ms);
        const std::size_t packet = options_.link_bytes_per_ms > 0 ? usb_packet_size : bytes.size();
        link_until_ = start;
        for (std::size_t at = 0; at < bytes.size(); at += packet) {
            const std::size_t end = std::min(bytes.size(), at + packet);
            link_until_ += carry(end - at);
            output_.push(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                   bytes.begin() + static_cast<std::ptrdiff_t>(end)),
                         link_until_ + latency);
        }
    }

    std::set<std::string> fired_link_faults() const {
        std::set<std::string> fired = shaper_.fired();
        if (monitor_.flipped()) fired.insert("flip-byte");
        return fired;
    }

    void report_status() {
        if (options_.status.empty()) return;
        if (!write_status(options_.status, format_status(device_, monitor_, counters_, fired_link_faults())))
            std::fprintf(stderr, "zelmiran-sim: cannot write %s\n", options_.status.c_str());
    }

    Device& device_;
    ServeOptions options_;
    PtyLink link_;
    SignalWatch signals_;
    Monitor monitor_;
    FaultShaper shaper_;
    OutputQueue output_;
    LinkCounters counters_;
    bool stopping_ = false;
    std::uint64_t resets_told_ = 0;
    // Until when the modelled link carries what has been sent either way.
    Clock::time_point link_until_{};
    std::optional<Clock::time_point> delivered_since_;  // the last reply before hanging up is out
};

}  // namespace

int serve(Device& device, const ServeOptions& options) {
    // Timed waits end when asked, not up to 50 us later: the timing model
    // is made of thousands of them.
    prctl(PR_SET_TIMERSLACK, 1UL);
    // A marker left by an earlier device must not announce this one.
    remove_ready_marker(options.ready);
    return Server(device, options).run();
}

}  // namespace sim
