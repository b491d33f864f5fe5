#include "cli/commands.h"

#include "cli/outcome_words.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "cli/worker.h"
#include "device/programming.h"
#include "flash/geometry.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

// The progress bar of each step that goes region by region, block by block
// or byte by byte (a worker of the line tells it instead); the stop asked
// for, at the steps' safe points; and the last words of an ending at once,
// once the flash is being changed.
class StepBars : public StepObserver {
public:
    explicit StepBars(const Session& session, const char* read_label = "", std::uint64_t read_bytes = 0)
        : session_(session), read_label_(read_label), read_bytes_(read_bytes) {}
    ~StepBars() override { session_.progress.end(); }

    void started(Step step, int units) override {
        const Texts& texts = session_.texts;
        if (step == Step::checksum) prepare_last_words(session_, texts.stopped_in_programming_mode);
        const auto total = static_cast<std::uint64_t>(units);
        units_ = units;
        if (session_.invocation.worker) return tell_progress(step, 0, units);
        // A step with nothing to do shows no bar.
        if (units == 0 && step != Step::flash_read) return;
        switch (step) {
        case Step::unlock: return session_.progress.begin(texts.pass_unlock, total, 0);
        case Step::write: return session_.progress.begin(texts.pass_write, total, page_size);
        case Step::lock: return session_.progress.begin(texts.pass_lock, total, 0);
        case Step::flash_read: return session_.progress.begin(read_label_, read_bytes_, 1);
        default: return;
        }
    }
    void advanced(Step step, int units_done) override {
        if (session_.invocation.worker) return tell_progress(step, units_done, units_);
        session_.progress.update(static_cast<std::uint64_t>(units_done));
    }
    void finished(Step step) override {
        if (session_.invocation.worker) return tell_progress(step, units_, units_);
        session_.progress.end();
    }
    bool should_stop() override { return stops_asked() > 0; }

private:
    const Session& session_;
    const char* read_label_;
    std::uint64_t read_bytes_;
    int units_ = 0;
};

// What a stop at `outcome`'s step left on the device.
const char* stop_words(const Outcome& outcome, const Session& session) {
    switch (outcome.step) {
    case Step::checksum:
    case Step::unlock:
    case Step::write:
    case Step::check:
    case Step::lock:
    case Step::boot_bit: return session.texts.stopped_in_programming_mode;
    default: return session.texts.stopped_untouched;
    }
}

void fail(CommandResult& result, const Outcome& outcome, const Session& session) {
    if (outcome.cause == Cause::stopped) {
        result.stopped = true;
        result.code = stopped_by(stop_signal());
        result.detail = stop_words(outcome, session);
        return;
    }
    result.code = exit_code_of(outcome);
    result.detail = step_failure_words(outcome, session.russian);
}

// Reads `length` bytes from `offset` (from the flash's start), handing each
// block to `use`; false with the failure in `result`.
bool read_flash_into(const Session& session, std::uint32_t offset, std::uint32_t length, const char* label,
                     const FlashBlockUse& use, CommandResult& result) {
    if (Outcome prepared = prepare_flash_reads(); !prepared.ok()) {
        fail(result, prepared, session);
        return false;
    }
    StepBars bars(session, label, length);
    if (Outcome read = read_flash(offset, length, use, bars); !read.ok()) {
        fail(result, read, session);
        return false;
    }
    return true;
}

std::uint32_t read_offset(const Session& session) { return session.invocation.address - flash_base; }

// Bytes sent cannot be taken back: a failed or stopped read leaves those
// sent so far, and the result goes to standard error, away from the bytes.
CommandResult read_to_standard_output(const Session& session) {
    CommandResult result;
    result.file = "-";
    const char* output = session.texts.standard_output;
    prepare_binary_output();
    const DeviceConnection connection(session.invocation.port);
    if (!connection_in_hand(session, connection, result)) return result;
    std::string reason;
    const auto send = [&](std::uint32_t, const unsigned char* flash, std::uint32_t count) {
        return write_binary_output(flash, count, reason);
    };
    const std::uint32_t size = session.invocation.size;
    if (!read_flash_into(session, read_offset(session), size, session.texts.pass_read, send, result)) return result;
    if (!reason.empty()) {
        result.code = ExitCode::cannot_create;
        result.detail = format(session.texts.cannot_create, output, reason.c_str());
        return result;
    }
    result.bytes = size;
    result.detail = format(session.texts.read_saved, static_cast<unsigned>(size), output);
    return result;
}

// Where a read saves: `file` itself, or the target its links lead to, so
// that a link stays a link. Empty when that is anything but a regular file
// or a new name: a device or a FIFO is never replaced.
std::string save_target(const std::string& file) {
    // As many links as the system follows in one path.
    constexpr int most_links = 40;
    std::error_code error;
    std::filesystem::path path = utf8_path(file);
    for (int links = 0; links < most_links && std::filesystem::is_symlink(path, error); ++links) {
        const std::filesystem::path target = std::filesystem::read_symlink(path, error);
        if (error) return "";
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    const auto status = std::filesystem::symlink_status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return "";
    return utf8_name(path);
}

// With --run, once the boot bit is set: the device starts its firmware now,
// not at its next power-up.
void restart_if_asked(const Session& session, CommandResult& result) {
    if (!session.invocation.run) return;
    if (Outcome restarted = restart_controller(); !restarted.ok()) return fail(result, restarted, session);
    result.detail += session.texts.restarted;
}

// What the flash must hold after writing `image`: the image, erased flash
// around it, or with `keep_rest` the flash outside its blocks as it is.
FlashTarget flash_target(const ImageFile& image, bool keep_rest) {
    FlashTarget target{std::vector<unsigned char>(flash_size, 0xFF), std::vector<bool>(flash_pages, keep_rest)};
    std::copy(image.bytes.begin(), image.bytes.end(), target.contents.begin());
    for (std::size_t block = 0; block * page_size < image.bytes.size(); ++block) target.kept[block] = false;
    return target;
}

}  // namespace

void prepare_last_words(const Session& session, const std::string& words) {
    // A progress line may be open.
    set_last_words((session.progress.shown() ? "\n" : "") + std::string("zelmiran-flash: ") + words + "\n");
}

bool load_command_image(const Session& session, ImageFile& image, CommandResult& result) {
    const Invocation& invocation = session.invocation;
    const RawPlacement placement{invocation.address, invocation.address_given};
    ImageError error;
    const bool loaded = invocation.file == "-"
                            ? load_standard_input_image(session.texts.standard_input, image, error, placement)
                            : load_image(invocation.file, image, error, placement);
    if (!loaded) {
        // Only the image tells whether it carries addresses of its own.
        result.code = error.fault == ImageFault::address_not_raw ? ExitCode::usage : ExitCode::bad_image;
        result.detail = error.message(session.russian);
        return false;
    }
    result.image = ImageFacts{session.invocation.file, image.format, image.bytes.size(), image.sha256};
    return true;
}

bool connection_in_hand(const Session& session, const DeviceConnection& connection, CommandResult& result) {
    result.port = connection.port();
    if (connection.ok()) return true;
    result.code = exit_code_of(connection.failure());
    result.detail = connection_failure_words(connection, session.russian);
    return false;
}

void program_connected_device(const Session& session, const ImageFile& image, CommandResult& result) {
    const Invocation& invocation = session.invocation;
    WriteTally tally;
    const Outcome outcome = [&] {
        StepBars bars(session);
        return write_changed_blocks(flash_target(image, invocation.keep_rest), invocation.full, tally, bars);
    }();
    if (!outcome.ok()) {
        fail(result, outcome, session);
        if (!result.stopped) result.detail = std::string(session.texts.run_failed) + ": " + result.detail;
        return;
    }
    result.written = WrittenFacts{tally.blocks_written, tally.blocks_unchanged};
    result.detail = format(session.texts.written, invocation.file.c_str(), image.format.c_str(), image.bytes.size(),
                           image.sha256.c_str(), tally.blocks_written, tally.blocks_unchanged);
    restart_if_asked(session, result);
}

CommandResult run_info(const Session& session) {
    CommandResult result;
    const DeviceConnection connection(session.invocation.port);
    const bool connected = connection_in_hand(session, connection, result);
    if (!connection.chip_id()) return result;
    InfoFacts info;
    info.chip_id = connection.chip_id();
    info.controller_ok = connected;
    FlashState state;
    if (connected) {
        if (Outcome read = read_flash_bits(state); read.ok()) info.bits = state;
        else fail(result, read, session);
    }
    result.info = info;
    return result;
}

CommandResult run_write(const Session& session) {
    CommandResult result;
    ImageFile image;
    if (!load_command_image(session, image, result)) return result;
    const DeviceConnection connection(session.invocation.port);
    // The line counts a device from its greeting's answer on.
    if (session.invocation.worker && connection.port_outcome().outcome.ok())
        tell_connected(connection.port(), connection.chip_id());
    if (connection_in_hand(session, connection, result)) program_connected_device(session, image, result);
    return result;
}

namespace {

// Every byte of the image read back and compared.
void verify_read_back(const Session& session, const ImageFile& image, CommandResult& result) {
    Difference difference;
    const auto compare = [&](std::uint32_t offset, const unsigned char* flash, std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (flash[i] == image.bytes[offset + i]) continue;
            if (difference.count++ == 0) difference = {flash_base + offset + i, image.bytes[offset + i], flash[i], 1};
        }
        return true;
    };
    if (!read_flash_into(session, 0, static_cast<std::uint32_t>(image.bytes.size()), session.texts.pass_verify,
                         compare, result))
        return;
    result.difference = difference;
    if (difference.count == 0) {
        result.detail = format(session.texts.verify_match, session.invocation.file.c_str(), image.bytes.size());
        return;
    }
    result.code = ExitCode::differs;
    result.detail = format(session.texts.verify_differs, session.invocation.file.c_str(),
                           static_cast<unsigned>(difference.address), difference.image_byte, difference.flash_byte,
                           difference.count);
}

// Every block of the flash by the checksum the device computes.
void verify_by_checksum(const Session& session, const ImageFile& image, CommandResult& result) {
    int differing_blocks = 0;
    const Outcome outcome = [&] {
        StepBars bars(session);
        return compare_by_checksum(flash_target(image, session.invocation.keep_rest), differing_blocks, bars);
    }();
    if (outcome.cause != Cause::block_differs && outcome.cause != Cause::none) return fail(result, outcome, session);
    result.block_difference = BlockDifference{outcome.address, outcome.address + page_size - 1, differing_blocks};
    if (outcome.ok()) {
        result.detail = format(session.texts.verify_match, session.invocation.file.c_str(), image.bytes.size());
        return;
    }
    result.code = ExitCode::differs;
    result.detail = format(session.texts.verify_block_differs, session.invocation.file.c_str(),
                           static_cast<unsigned>(outcome.address), static_cast<unsigned>(outcome.address + page_size - 1),
                           differing_blocks);
}

}  // namespace

CommandResult run_verify(const Session& session) {
    CommandResult result;
    ImageFile image;
    if (!load_command_image(session, image, result)) return result;
    const DeviceConnection connection(session.invocation.port);
    if (!connection_in_hand(session, connection, result)) return result;
    if (session.invocation.read_back) verify_read_back(session, image, result);
    else verify_by_checksum(session, image, result);
    return result;
}

CommandResult run_read(const Session& session) {
    if (session.invocation.file == "-") return read_to_standard_output(session);
    CommandResult result;
    result.file = session.invocation.file;
    const std::string file = save_target(session.invocation.file);
    if (file.empty()) {
        result.code = ExitCode::cannot_create;
        result.detail = format(session.texts.cannot_create, session.invocation.file.c_str(), session.texts.not_regular_file);
        return result;
    }
    // Beside the file, so that the rename stays on one file system.
    const std::string partial = file + ".zelmiran-flash.part";
    std::ofstream out(utf8_path(partial), std::ios::binary | std::ios::trunc);
    if (!out) {
        result.code = ExitCode::cannot_create;
        result.detail = format(session.texts.cannot_create, session.invocation.file.c_str(), std::strerror(errno));
        return result;
    }
    // Nothing but a whole read replaces or creates the file, whatever stops it.
    set_unfinished_file(partial);
    const std::string not_written = format(session.texts.stopped_not_written, session.invocation.file.c_str());
    prepare_last_words(session, not_written);
    const auto discard = [&] {
        out.close();
        std::error_code ignored;
        std::filesystem::remove(utf8_path(partial), ignored);
        set_unfinished_file("");
        if (result.stopped) result.detail = not_written;
        return result;
    };
    const DeviceConnection connection(session.invocation.port);
    if (!connection_in_hand(session, connection, result)) return discard();
    const auto save = [&](std::uint32_t, const unsigned char* flash, std::uint32_t count) {
        out.write(reinterpret_cast<const char*>(flash), count);
        return out.good();
    };
    if (!read_flash_into(session, read_offset(session), session.invocation.size, session.texts.pass_read, save, result))
        return discard();
    out.close();
    std::string reason = std::strerror(errno);
    if (out.fail() || !replace_file(partial, file, reason)) {
        result.code = ExitCode::cannot_create;
        result.detail = format(session.texts.cannot_create, session.invocation.file.c_str(), reason.c_str());
        return discard();
    }
    set_unfinished_file("");
    result.bytes = session.invocation.size;
    result.detail = format(session.texts.read_saved, static_cast<unsigned>(session.invocation.size), session.invocation.file.c_str());
    return result;
}

CommandResult run_list(const Session&) {
    CommandResult result;
    result.ports = survey_ports();
    return result;
}

CommandResult run_boot(const Session& session) {
    CommandResult result;
    const DeviceConnection connection(session.invocation.port);
    if (!connection_in_hand(session, connection, result)) return result;
    if (Outcome cancelled = cancel_programming(); !cancelled.ok()) {
        fail(result, cancelled, session);
        return result;
    }
    result.detail = session.texts.boot_done;
    restart_if_asked(session, result);
    return result;
}
