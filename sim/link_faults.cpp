#include "sim/link_faults.h"

namespace sim {

namespace {

std::vector<std::uint8_t> greeting_answer(GreetingAnswer answer, std::vector<std::uint8_t> normal) {
    switch (answer) {
    case GreetingAnswer::silent: return {};
    case GreetingAnswer::cut: return {'\n', '\r'};
    case GreetingAnswer::wrong: return {'?', '\r', '>'};
    default: return normal;
    }
}

}  // namespace

std::vector<std::uint8_t> FaultShaper::shape(const Reply& reply) {
    ++frames_;
    std::vector<std::uint8_t> bytes = reply.bytes;
    if (reply.frame == Frame::greeting) bytes = greeting_answer(faults_.greeting, std::move(bytes));
    if (is_write(reply.frame) && ++write_replies_ == faults_.bad_prompt && bytes.size() >= 3) bytes[2] = '?';
    const bool silent = faults_.silent_after && frames_ > *faults_.silent_after;
    const bool hung_up = faults_.close_after && frames_ > *faults_.close_after;
    if (silent || hung_up) bytes.clear();
    return bytes;
}

}  // namespace sim
