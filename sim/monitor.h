// The boot monitor's command interpreter over a Device. Bytes from the host
// go in; each frame that is carried out hands its reply to a sink.
//
// Robustness rule: a command is everything up to the next '#'. A frame that
// does not parse (unknown letter, bad or too many digits, missing comma,
// over 32 bytes) is dropped silently and counted as rejected. A byte 0x80
// outside S data abandons any partial command, so a greeting always
// resynchronises. A partial command or partial S data that sees no byte for
// 500 ms is abandoned, and counted as rejected too.
//
// A chip reset (RSTC_CR written with its key and PROCRST) gets no reply.
// With GPNVM2 set the firmware runs and the monitor takes no more bytes;
// otherwise the monitor starts anew and, as after power-up on the serial
// line, drops every frame (counted as rejected) until a greeting.
#pragma once

#include "sim/device.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// Frames in the order the status report lists them.
enum class Frame { greeting, W, H, O, w, h, o, S, R, G };
inline constexpr int frame_kind_count = 10;
const char* frame_name(Frame frame);
// W, H, O and S: the replies whose third byte is the prompt.
bool is_write(Frame frame);

struct Reply {
    Frame frame;
    std::vector<std::uint8_t> bytes;
    bool hung = false;  // G whose code never came back: no bytes, ever again
    double device_ms = 0;  // modelled time the device spent on the frame before answering
};

// A byte of S data that arrives spoilt, as over a bad line: the byte at
// `offset` (from 0) of the `block`-th S data (from 1) is XORed with `mask`.
struct FlippedByte {
    std::uint64_t block;
    std::uint32_t offset;
    std::uint8_t mask;
};

struct MonitorCounters {
    std::array<std::uint64_t, frame_kind_count> frames{};  // carried out, by Frame
    std::uint64_t rejected = 0;
    std::uint64_t received = 0;  // frames ended by '#', rejected ones included
};

class Monitor {
public:
    using Clock = std::chrono::steady_clock;
    using ReplySink = std::function<void(const Reply&)>;

    static constexpr std::chrono::milliseconds patience{500};
    static constexpr std::size_t longest_frame = 32;
    // R beyond this is taken for a damaged frame rather than streamed.
    static constexpr std::uint32_t longest_read = 0x100000;

    Monitor(Device& device, ReplySink sink, std::optional<FlippedByte> flipped = std::nullopt)
        : device_(device), sink_(std::move(sink)), flipped_(flipped) {}

    // Bytes from the host, in order of arrival, at `now`.
    void receive(const std::uint8_t* data, std::size_t count, Clock::time_point now);
    // When a partial command or S data will be given up, if there is one.
    std::optional<Clock::time_point> deadline() const;
    // Gives up a partial command or S data once its deadline has passed.
    void expire(Clock::time_point now);

    const MonitorCounters& counters() const { return counters_; }
    // Why the monitor went silent for good, once code it ran did not return.
    const std::optional<std::string>& hang() const { return hang_; }
    // True once the flipped byte has been taken in.
    bool flipped() const { return flip_done_; }
    // True once a reset has started the firmware in its place.
    bool gone() const { return gone_; }

private:
    struct Command {
        Frame frame;
        std::uint32_t address = 0;
        std::uint32_t value = 0;  // value to write, or length for S and R
    };

    bool partial() const { return !text_.empty() || synchronised_ || data_left_ > 0; }
    void abandon();
    void take_command_byte(std::uint8_t byte);
    std::size_t take_data(const std::uint8_t* data, std::size_t count);
    void end_frame();
    std::optional<Command> parse() const;
    void carry_out(const Command& command);
    void reply(Frame frame, std::vector<std::uint8_t> bytes);
    void read_value(Frame frame, std::uint32_t address, unsigned width);
    void read_block(std::uint32_t address, std::uint32_t length);
    void go(std::uint32_t address);
    // True when the device has been reset since the last call.
    bool restarted();

    Device& device_;
    ReplySink sink_;
    std::string text_;           // the command so far, without '#'
    bool overlong_ = false;
    bool synchronised_ = false;  // 0x80 seen since the last frame
    std::uint32_t data_address_ = 0;
    std::uint32_t data_left_ = 0;  // bytes of S data still to come
    std::uint32_t data_taken_ = 0;  // of the S data now coming in
    std::optional<FlippedByte> flipped_;
    bool flip_done_ = false;
    Clock::time_point last_byte_{};
    MonitorCounters counters_;
    std::optional<std::string> hang_;
    std::uint64_t resets_seen_ = 0;
    bool awaiting_greeting_ = false;
    bool gone_ = false;
};

}  // namespace sim
