// Replies on their way out: each may leave only from its ready time (the
// link latency), and with a trickle gap every byte waits that long after the
// one before it has actually left.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace sim {

class OutputQueue {
public:
    using Clock = std::chrono::steady_clock;

    explicit OutputQueue(double trickle_ms);

    void push(const std::vector<std::uint8_t>& bytes, Clock::time_point ready);
    // Writes what is due at `now` to the non-blocking `fd`; returns the
    // number of bytes written. Stops early when the fd takes no more.
    std::size_t send_due(int fd, Clock::time_point now);
    // When the next byte is due, if any is waiting.
    std::optional<Clock::time_point> next_due() const;
    bool empty() const { return chunks_.empty(); }
    void clear() { chunks_.clear(); }

private:
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        Clock::time_point due;
        std::size_t sent = 0;
    };

    Clock::duration gap_;
    std::deque<Chunk> chunks_;
};

}  // namespace sim
