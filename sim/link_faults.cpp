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
    if (reply.frame == Frame::greeting && faults_.greeting != GreetingAnswer::normal) {
        bytes = greeting_answer(faults_.greeting, std::move(bytes));
        fired_.insert("greeting");
    }
    bool bad_prompt = false;
    if (is_write(reply.frame) && ++write_replies_ == faults_.bad_prompt && bytes.size() >= 3) {
        bytes[2] = '?';
        bad_prompt = true;
    }
    const bool silent = faults_.silent_after && frames_ > *faults_.silent_after;
    const bool hung_up = faults_.close_after && frames_ > *faults_.close_after;
    if (silent) fired_.insert("silent-after");
    if (hung_up) fired_.insert("close-after");
    if (silent || hung_up) bytes.clear();
    else if (bad_prompt) fired_.insert("bad-prompt");
    return bytes;
}

}  // namespace sim
