#include "cli/line.h"

#include "cli/csv.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "link/serial.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// How often the line looks for the next device and for the last one's going.
constexpr auto look_interval = std::chrono::milliseconds(500);
constexpr auto stop_check_interval = std::chrono::milliseconds(50);

const std::vector<std::string> log_header = {"time_utc", "number", "port", "chip_id", "image_sha256",
                                             "exit_code", "seconds", "detail"};

bool stop_asked(const Session& session) {
    if (stops_asked() == 0) return false;
    note_line_stopping(session);
    return true;
}

// Half a second, cut short by Ctrl-C.
void pause_for_look() {
    for (auto waited = Clock::duration::zero(); waited < look_interval && stops_asked() == 0;
         waited += stop_check_interval)
        std::this_thread::sleep_for(stop_check_interval);
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    return text;
}

// Waits for a device that answers the greeting, whether its check then
// passes or not; null on Ctrl-C.
std::unique_ptr<DeviceConnection> wait_for_device(const Session& session) {
    for (;;) {
        if (stop_asked(session)) return nullptr;
        auto connection = std::make_unique<DeviceConnection>(session.invocation.port, PortChoice::first_device);
        const Step failed_step = connection->failure().step;
        if (connection->ok() || (failed_step != Step::port_search && failed_step != Step::port_open)) return connection;
        connection.reset();
        pause_for_look();
    }
}

void wait_until_gone(const Session& session, const std::string& port) {
    while (!stop_asked(session) && device_port_present(port.c_str())) pause_for_look();
}

CommandResult program_one(const Session& session, const ImageFile& image, const DeviceConnection& connection,
                          unsigned number) {
    CommandResult result;
    result.command = "line";
    result.number = number;
    result.image = ImageFacts{session.invocation.file, image.format, image.bytes.size(), image.sha256};
    const auto started = Clock::now();
    if (connection_in_hand(session, connection, result)) program_connected_device(session, image, result);
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return result;
}

void print_device_line(const Session& session, const CommandResult& result) {
    if (session.invocation.json) {
        report_result(session, result);
        return;
    }
    const bool ok = result.code == ExitCode::ok;
    std::string line = format(session.texts.line_result, *result.number, result.port.c_str(),
                              ok ? session.texts.word_ok : session.texts.word_failed, result.seconds);
    if (!ok) line += format("  (%d) ", exit_number(result.code)) + result.detail;
    write_text(Stream::out, line + "\n");
}

bool log_device(const Session& session, const CommandResult& result, const DeviceConnection& connection,
                const ImageFile& image) {
    if (session.invocation.log.empty()) return true;
    const auto chip_id_read = connection.chip_id();
    const std::string chip_id = chip_id_read ? format("0x%08X", static_cast<unsigned>(*chip_id_read)) : "";
    return append_csv_row(session.invocation.log,
                          {utc_now(), std::to_string(*result.number), result.port, chip_id, image.sha256,
                           std::to_string(exit_number(result.code)), format("%.3f", result.seconds), result.detail},
                          log_header);
}

// Fails, before any device is touched, when the log cannot be written. A
// FIFO or a device would block the line, so only a regular file will do.
bool log_writable(const Session& session, CommandResult& refusal) {
    const std::string& name = session.invocation.log;
    if (name.empty()) return true;
    const std::filesystem::path path = utf8_path(name);
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    const bool usable = !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
    if (usable && std::ofstream(path, std::ios::app)) return true;
    refusal.code = ExitCode::cannot_create;
    refusal.detail = format(session.texts.cannot_create, name.c_str(),
                            usable ? std::strerror(errno) : session.texts.not_regular_file);
    return false;
}

}  // namespace

ExitCode run_line(const Session& command_session) {
    // The device in hand is finished after the first stop; the second stops
    // it at its next safe point.
    Session session = command_session;
    session.stops_ending_steps = 2;
    CommandResult refusal;
    refusal.command = "line";
    ImageFile image;
    if (!load_command_image(session, image, refusal) || !log_writable(session, refusal)) {
        report_result(session, refusal);
        return refusal.code;
    }
    unsigned programmed = 0;
    unsigned failed = 0;
    ExitCode first_failure = ExitCode::ok;
    for (unsigned number = 1; session.invocation.count == 0 || number <= session.invocation.count; ++number) {
        note(session, format(session.texts.line_waiting, number));
        auto connection = wait_for_device(session);
        if (!connection) break;
        const CommandResult result = program_one(session, image, *connection, number);
        prepare_last_words(session, session.texts.stopped_untouched);
        print_device_line(session, result);
        if (result.stopped) first_failure = result.code;
        else if (result.code == ExitCode::ok) ++programmed;
        else if (++failed == 1) first_failure = result.code;
        const bool logged = log_device(session, result, *connection, image);
        // The port goes before the wait for the device to go.
        connection.reset();
        if (!logged) {
            note(session, "zelmiran-flash: " + format(session.texts.cannot_create, session.invocation.log.c_str(), std::strerror(errno)) + "\n");
            return ExitCode::cannot_create;
        }
        if (result.stopped || stop_asked(session)) break;
        if (session.invocation.count != 0 && number == session.invocation.count) break;
        note(session, format(session.texts.line_unplug, number));
        wait_until_gone(session, result.port);
        if (stop_asked(session)) break;
    }
    const std::string summary = format(session.texts.line_summary, programmed, failed);
    if (session.invocation.json) note(session, summary);
    else write_text(Stream::out, summary);
    return first_failure;
}
