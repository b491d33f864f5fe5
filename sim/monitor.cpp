#include "sim/monitor.h"

#include <string_view>

namespace sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t sync_byte = 0x80;
constexpr char frame_end = '#';
constexpr std::size_t longest_field = 8;

const Bytes new_line = {'\n', '\r'};
const Bytes prompt = {'\n', '\r', '>'};

std::optional<Frame> frame_of(char letter) {
    switch (letter) {
    case 'W': return Frame::W;
    case 'H': return Frame::H;
    case 'O': return Frame::O;
    case 'w': return Frame::w;
    case 'h': return Frame::h;
    case 'o': return Frame::o;
    case 'S': return Frame::S;
    case 'R': return Frame::R;
    case 'G': return Frame::G;
    default: return std::nullopt;
    }
}

unsigned width_of(Frame frame) {
    switch (frame) {
    case Frame::W:
    case Frame::w: return 4;
    case Frame::H:
    case Frame::h: return 2;
    default: return 1;
    }
}

std::optional<std::uint32_t> parse_hex(std::string_view field) {
    if (field.empty() || field.size() > longest_field) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : field) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}

// The numbers of the comma-separated fields, or nothing if one is not a number.
std::optional<std::vector<std::uint32_t>> parse_fields(std::string_view text) {
    std::vector<std::uint32_t> numbers;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::optional<std::uint32_t> number = parse_hex(text.substr(0, comma));
        if (!number) return std::nullopt;
        numbers.push_back(*number);
        if (comma == std::string_view::npos) return numbers;
        text.remove_prefix(comma + 1);
    }
}

// Reads take an optional width field, which the letter already says.
bool field_count_fits(Frame frame, std::size_t count) {
    switch (frame) {
    case Frame::w:
    case Frame::h:
    case Frame::o: return count == 1 || count == 2;
    case Frame::G: return count == 1;
    default: return count == 2;
    }
}

}  // namespace

const char* frame_name(Frame frame) {
    static const char* const names[frame_kind_count] = {"greeting", "W", "H", "O", "w", "h", "o", "S", "R", "G"};
    return names[static_cast<int>(frame)];
}

bool is_write(Frame frame) {
    return frame == Frame::W || frame == Frame::H || frame == Frame::O || frame == Frame::S;
}

void Monitor::receive(const std::uint8_t* data, std::size_t count, Clock::time_point now) {
    if (count == 0) return;
    expire(now);
    last_byte_ = now;
    std::size_t taken = 0;
    while (taken < count && !hang_ && !gone_) {
        if (data_left_ > 0) taken += take_data(data + taken, count - taken);
        else take_command_byte(data[taken++]);
    }
}

std::optional<Monitor::Clock::time_point> Monitor::deadline() const {
    if (!partial() || hang_ || gone_) return std::nullopt;
    return last_byte_ + patience;
}

void Monitor::expire(Clock::time_point now) {
    if (partial() && now - last_byte_ >= patience) abandon();
}

void Monitor::abandon() {
    if (!text_.empty() || overlong_ || data_left_ > 0) ++counters_.rejected;
    text_.clear();
    overlong_ = false;
    synchronised_ = false;
    data_left_ = 0;
}

void Monitor::take_command_byte(std::uint8_t byte) {
    if (byte == sync_byte) {
        abandon();
        synchronised_ = true;
    } else if (byte == frame_end) {
        end_frame();
    } else if (text_.size() < longest_frame) {
        text_.push_back(static_cast<char>(byte));
    } else {
        overlong_ = true;
    }
}

std::size_t Monitor::take_data(const std::uint8_t* data, std::size_t count) {
    const std::size_t taken = std::min<std::size_t>(count, data_left_);
    std::vector<std::uint8_t> bytes(data, data + taken);
    if (flipped_ && flipped_->block == counters_.frames[static_cast<int>(Frame::S)] &&
        flipped_->offset - data_taken_ < taken) {
        bytes[flipped_->offset - data_taken_] ^= flipped_->mask;
        flip_done_ = true;
    }
    data_taken_ += static_cast<std::uint32_t>(taken);
    device_.write_memory(data_address_, bytes.data(), taken);
    data_address_ += static_cast<std::uint32_t>(taken);
    data_left_ -= static_cast<std::uint32_t>(taken);
    if (data_left_ == 0) reply(Frame::S, prompt);
    return taken;
}

void Monitor::end_frame() {
    ++counters_.received;
    const std::optional<Command> command = parse();
    text_.clear();
    overlong_ = false;
    synchronised_ = false;
    if (!command || (awaiting_greeting_ && command->frame != Frame::greeting)) {
        ++counters_.rejected;
        return;
    }
    awaiting_greeting_ = false;
    ++counters_.frames[static_cast<int>(command->frame)];
    carry_out(*command);
}

std::optional<Monitor::Command> Monitor::parse() const {
    if (overlong_) return std::nullopt;
    if (text_.empty()) return synchronised_ ? std::optional<Command>(Command{Frame::greeting}) : std::nullopt;
    const std::optional<Frame> frame = frame_of(text_[0]);
    if (!frame) return std::nullopt;
    const auto fields = parse_fields(std::string_view(text_).substr(1));
    if (!fields || !field_count_fits(*frame, fields->size())) return std::nullopt;
    Command command{*frame, (*fields)[0], fields->size() > 1 ? (*fields)[1] : 0};
    if (command.frame == Frame::R && command.value > longest_read) return std::nullopt;
    return command;
}

void Monitor::carry_out(const Command& command) {
    switch (command.frame) {
    case Frame::greeting: reply(Frame::greeting, prompt); break;
    case Frame::W:
    case Frame::H:
    case Frame::O:
        device_.write(command.address, width_of(command.frame), command.value);
        if (!restarted()) reply(command.frame, prompt);
        break;
    case Frame::w:
    case Frame::h:
    case Frame::o: read_value(command.frame, command.address, width_of(command.frame)); break;
    case Frame::S:
        data_address_ = command.address;
        data_left_ = command.value;
        data_taken_ = 0;
        if (data_left_ == 0) reply(Frame::S, prompt);
        break;
    case Frame::R: read_block(command.address, command.value); break;
    case Frame::G: go(command.address); break;
    }
}

void Monitor::reply(Frame frame, std::vector<std::uint8_t> bytes) { sink_(Reply{frame, std::move(bytes)}); }

void Monitor::read_value(Frame frame, std::uint32_t address, unsigned width) {
    static const char digits[] = "0123456789ABCDEF";
    const std::uint32_t value = device_.read(address, width);
    Bytes bytes = {'\n', '\r', '0', 'x'};
    for (int shift = static_cast<int>(width) * 8 - 4; shift >= 0; shift -= 4) bytes.push_back(digits[value >> shift & 0xF]);
    bytes.insert(bytes.end(), prompt.begin(), prompt.end());
    reply(frame, std::move(bytes));
}

void Monitor::read_block(std::uint32_t address, std::uint32_t length) {
    Bytes bytes = new_line;
    bytes.resize(new_line.size() + length);
    device_.read_memory(address, bytes.data() + new_line.size(), length);
    bytes.push_back('>');
    reply(Frame::R, std::move(bytes));
}

bool Monitor::restarted() {
    if (device_.resets() == resets_seen_) return false;
    resets_seen_ = device_.resets();
    if (device_.firmware_started()) gone_ = true;
    else awaiting_greeting_ = true;
    return true;
}

void Monitor::go(std::uint32_t address) {
    const RunResult result = device_.run(address);
    if (restarted()) return;
    if (result.returned) {
        sink_(Reply{Frame::G, new_line, false, result.device_ms});
        return;
    }
    hang_ = result.reason;
    sink_(Reply{Frame::G, {}, true});
}

}  // namespace sim
