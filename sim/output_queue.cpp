#include "sim/output_queue.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace sim {

OutputQueue::OutputQueue(double trickle_ms)
    : gap_(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(trickle_ms))) {}

void OutputQueue::push(const std::vector<std::uint8_t>& bytes, Clock::time_point ready) {
    if (bytes.empty()) return;
    if (gap_ == Clock::duration::zero()) {
        chunks_.push_back({bytes, ready});
        return;
    }
    for (const std::uint8_t byte : bytes) chunks_.push_back({{byte}, ready});
}

std::size_t OutputQueue::send_due(int fd, Clock::time_point now) {
    std::size_t written = 0;
    while (!chunks_.empty() && chunks_.front().due <= now) {
        Chunk& chunk = chunks_.front();
        const ssize_t put = write(fd, chunk.bytes.data() + chunk.sent, chunk.bytes.size() - chunk.sent);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        written += static_cast<std::size_t>(put);
        chunk.sent += static_cast<std::size_t>(put);
        if (chunk.sent < chunk.bytes.size()) break;
        chunks_.pop_front();
        if (!chunks_.empty() && gap_ != Clock::duration::zero())
            chunks_.front().due = std::max(chunks_.front().due, now + gap_);
    }
    return written;
}

std::optional<OutputQueue::Clock::time_point> OutputQueue::next_due() const {
    if (chunks_.empty()) return std::nullopt;
    return chunks_.front().due;
}

}  // namespace sim
