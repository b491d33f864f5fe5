#include "cli/commands.h"

#include "app/programming_run.h"
#include "cli/dialogue_record.h"
#include "cli/platform.h"
#include "flash/flash_controller.h"
#include "link/monitor.h"
#include "link/serial.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr std::uint32_t flash_base = image_flash_start;
// Four pages a frame: a quarter of the updater's per-page round trips, still
// well inside one read's time budget at USB full speed.
constexpr std::uint32_t read_block = 4 * page_size;

// Connects for a command; false with the failure in `result`.
bool connect(const Session& session, CommandResult& result, Connection& connection) {
    connection = connect_device(session.invocation.port, session.texts);
    result.port = connection.port;
    if (connection.code == ExitCode::ok) return true;
    result.code = connection.code;
    result.detail = connection.problem;
    return false;
}

PassLabels pass_labels(const Texts& texts) {
    return {texts.pass_erase, texts.pass_write, texts.pass_compare, texts.pass_lock};
}

// The image bytes to whole pages of erased flash, as the run takes them.
std::string page_padded(const ImageFile& image) {
    std::string bytes(image.bytes.begin(), image.bytes.end());
    bytes.resize((bytes.size() + page_size - 1) / page_size * page_size, '\xFF');
    return bytes;
}

// The box's number as an exit code; a run that ended without one failed.
ExitCode code_of_box(int error_box) {
    switch (error_box) {
    case 4: return ExitCode::no_device;
    case 5: return ExitCode::no_monitor;
    case 7: return ExitCode::boot_bit_failed;
    default: return ExitCode::run_failed;
    }
}

// The lines that tell what failed; the steps done are no news.
std::string failure_lines(const DialogueRecord& record) {
    std::vector<std::string> failing;
    for (const std::string& line : record.lines)
        if (line.size() < 2 || line.compare(line.size() - 2, 2, "OK") != 0) failing.push_back(line);
    return joined_lines(failing);
}

// Reads the first `length` bytes of flash block by block, handing each to
// `use` until it says no; false with the address where the device stopped
// answering.
template <typename Use>
bool read_flash(const Session& session, std::uint32_t length, const char* label, Use use, std::uint32_t& failed_at) {
    std::vector<unsigned char> block(read_block);
    session.progress.begin(label, length, 1);
    for (std::uint32_t offset = 0; offset < length; offset += read_block) {
        const std::uint32_t count = std::min(read_block, length - offset);
        if (monitor_read_block(flash_base + offset, block.data(), count) != MonitorResult::ok) {
            session.progress.end();
            failed_at = flash_base + offset;
            return false;
        }
        if (!use(offset, block.data(), count)) break;
        session.progress.update(offset + count);
    }
    session.progress.end();
    return true;
}

// The flash timing the updater sets before any flash work: safe at any clock.
bool prepare_reads(const Session& session, CommandResult& result) {
    if (set_flash_modes() == FlashResult::ok) return true;
    result.code = ExitCode::no_monitor;
    result.detail = format(session.texts.monitor_silent, result.port.c_str());
    return false;
}

}  // namespace

bool load_command_image(const Session& session, ImageFile& image, CommandResult& result) {
    ImageError error;
    if (!load_image(session.invocation.file, image, error)) {
        result.code = ExitCode::bad_image;
        result.detail = error.message(session.russian);
        return false;
    }
    result.image = ImageFacts{session.invocation.file, image.format, image.bytes.size(), image.sha256};
    return true;
}

void program_connected_device(const Session& session, const ImageFile& image, CommandResult& result) {
    const std::string padded = page_padded(image);
    const auto pages = static_cast<std::int16_t>(padded.size() / page_size);
    std::istringstream stream(padded);
    begin_dialogue_record(&session.progress, pass_labels(session.texts), pages);
    run_programming(stream, pages);
    const DialogueRecord record = end_dialogue_record();
    if (record.success_box) {
        result.detail = format(session.texts.written, session.invocation.file.c_str(), image.format.c_str(),
                               image.bytes.size(), image.sha256.c_str());
        return;
    }
    result.code = code_of_box(record.error_box);
    const std::string lines = failure_lines(record);
    result.detail = std::string(session.texts.run_failed) + (lines.empty() ? "" : ": " + lines);
}

CommandResult run_info(const Session& session) {
    CommandResult result;
    Connection connection;
    const bool connected = connect(session, result, connection);
    InfoFacts info;
    if (connection.chip_id_read) info.chip_id = connection.chip_id;
    info.controller_ok = connected;
    if (connected) {
        FlashBits bits;
        if (read_flash_bits(bits)) {
            info.bits = bits;
        } else {
            result.code = ExitCode::no_monitor;
            result.detail = session.texts.status_unreadable;
        }
    }
    close_port();
    if (connection.chip_id_read) result.info = info;
    return result;
}

CommandResult run_write(const Session& session) {
    CommandResult result;
    ImageFile image;
    Connection connection;
    if (!load_command_image(session, image, result) || !connect(session, result, connection)) return result;
    program_connected_device(session, image, result);
    close_port();
    return result;
}

CommandResult run_verify(const Session& session) {
    CommandResult result;
    ImageFile image;
    Connection connection;
    if (!load_command_image(session, image, result) || !connect(session, result, connection)) return result;
    if (!prepare_reads(session, result)) return result;
    Difference difference;
    std::uint32_t failed_at = 0;
    const auto compare = [&](std::uint32_t offset, const unsigned char* flash, std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (flash[i] == image.bytes[offset + i]) continue;
            if (difference.count++ == 0)
                difference = {flash_base + offset + i, image.bytes[offset + i], flash[i], 1};
        }
        return true;
    };
    const bool read = read_flash(session, static_cast<std::uint32_t>(image.bytes.size()), session.texts.pass_verify,
                                 compare, failed_at);
    close_port();
    if (!read) {
        result.code = ExitCode::no_monitor;
        result.detail = format(session.texts.read_stopped, static_cast<unsigned>(failed_at));
        return result;
    }
    result.difference = difference;
    if (difference.count == 0) {
        result.detail = format(session.texts.verify_match, session.invocation.file.c_str(), image.bytes.size());
        return result;
    }
    result.code = ExitCode::differs;
    result.detail = format(session.texts.verify_differs, session.invocation.file.c_str(),
                           static_cast<unsigned>(difference.address), difference.image_byte, difference.flash_byte,
                           difference.count);
    return result;
}

CommandResult run_read(const Session& session) {
    CommandResult result;
    const std::string& file = session.invocation.file;
    result.file = file;
    // Beside the file, so that the rename stays on one file system.
    const std::string partial = file + ".zelmiran-flash.part";
    std::ofstream out(utf8_path(partial), std::ios::binary | std::ios::trunc);
    if (!out) {
        result.code = ExitCode::cannot_create;
        result.detail = format(session.texts.cannot_create, file.c_str(), std::strerror(errno));
        return result;
    }
    // Nothing but a whole read replaces or creates the file.
    const auto fail = [&](ExitCode code, const std::string& detail) {
        out.close();
        std::error_code ignored;
        std::filesystem::remove(utf8_path(partial), ignored);
        if (code != ExitCode::ok) {
            result.code = code;
            result.detail = detail;
        }
        return result;
    };
    Connection connection;
    if (!connect(session, result, connection) || !prepare_reads(session, result)) return fail(ExitCode::ok, "");
    catch_stop_request();
    std::uint32_t failed_at = 0;
    const auto save = [&](std::uint32_t, const unsigned char* flash, std::uint32_t count) {
        out.write(reinterpret_cast<const char*>(flash), count);
        return out.good() && !stop_requested();
    };
    const bool read = read_flash(session, session.invocation.size, session.texts.pass_read, save, failed_at);
    close_port();
    if (!read) return fail(ExitCode::no_monitor, format(session.texts.read_stopped, static_cast<unsigned>(failed_at)));
    if (stop_requested()) return fail(ExitCode::interrupted, session.texts.interrupted);
    out.close();
    std::string reason = std::strerror(errno);
    if (out.fail() || !replace_file(partial, file, reason))
        return fail(ExitCode::cannot_create, format(session.texts.cannot_create, file.c_str(), reason.c_str()));
    result.bytes = session.invocation.size;
    result.detail = format(session.texts.read_saved, static_cast<unsigned>(session.invocation.size), file.c_str());
    return result;
}

CommandResult run_boot(const Session& session) {
    CommandResult result;
    Connection connection;
    if (!connect(session, result, connection)) return result;
    FlashResult outcome = set_flash_modes();
    if (outcome == FlashResult::ok) outcome = cancel_programming_mode();
    close_port();
    if (outcome != FlashResult::ok) {
        result.code = ExitCode::boot_bit_failed;
        result.detail = format(session.texts.boot_failed, static_cast<int>(outcome));
        return result;
    }
    result.detail = session.texts.boot_done;
    return result;
}
