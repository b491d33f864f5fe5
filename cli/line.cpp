#include "cli/line.h"

#include "cli/csv.h"
#include "cli/line_log.h"
#include "cli/line_view.h"
#include "cli/line_worker.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "link/serial.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;

// How often a port is looked at: for a device that came or went, and again
// after its worker found no device answering there.
constexpr auto look_interval = std::chrono::milliseconds(500);
// Workers tell their progress ten times a second; one silent this long hangs.
constexpr auto silence_limit = std::chrono::seconds(60);
constexpr int wait_milliseconds = 100;

// idle: no worker, the port looked at for a device; working: its worker
// runs; programmed: its device's run has ended, and the port is left alone
// until it goes.
enum class PortState { idle, working, programmed };

struct LinePort {
    std::string name;
    PortState state = PortState::idle;
    Clock::time_point next_look{};
    std::unique_ptr<LineWorker> worker;
};

std::vector<std::string> watched_ports(const Invocation& invocation) {
    if (!invocation.ports.empty()) return invocation.ports;
    if (!invocation.port.empty()) return {invocation.port};
    std::vector<std::string> ports;
    for (int number = first_port_number; number <= last_port_number; ++number)
        ports.push_back("COM" + std::to_string(number));
    return ports;
}

std::string watched_words(const Session& session) {
    const Invocation& invocation = session.invocation;
    if (invocation.ports.empty() && invocation.port.empty()) return session.texts.all_ports;
    std::string words;
    for (const std::string& port : watched_ports(invocation)) words += (words.empty() ? "" : ", ") + port;
    return words;
}

const char* phase_word(const Texts& texts, const std::string& step) {
    if (step.empty()) return texts.phase_connect;
    if (step == "applet" || step == "boot_bit_clear") return texts.phase_prepare;
    if (step == "checksum") return texts.pass_compare;
    if (step == "unlock") return texts.pass_unlock;
    if (step == "write") return texts.pass_write;
    if (step == "check") return texts.phase_check;
    if (step == "lock") return texts.pass_lock;
    if (step == "boot_bit") return texts.phase_boot_bit;
    return "";
}

const char* log_result(const CommandResult& result) {
    if (result.stopped) return "STOPPED";
    return result.code == ExitCode::ok ? "PASS" : "FAIL";
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

// The image as the workers read it: the file named, or for standard input,
// which only the line can read, a raw copy of what it gives the flash,
// removed when the line ends.
class WorkerImage {
public:
    ~WorkerImage() {
        std::error_code ignored;
        if (!copy_.empty()) std::filesystem::remove(copy_, ignored);
    }

    [[nodiscard]] bool prepare(const Session& session, const ImageFile& image, CommandResult& refusal) {
        path_ = session.invocation.file;
        if (path_ != "-") return true;
        std::error_code error;
        copy_ = std::filesystem::temp_directory_path(error) /
                ("zelmiran-flash-line-" + std::to_string(process_id()) + ".bin");
        std::ofstream file(copy_, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
        file.close();
        path_ = utf8_name(copy_);
        if (!error && file) return true;
        refusal.code = ExitCode::cannot_create;
        refusal.detail = format(session.texts.cannot_create, path_.c_str(), std::strerror(errno));
        return false;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::filesystem::path copy_;
};

class ProductionLine {
public:
    ProductionLine(const Session& session, const ImageFile& image, const std::string& image_path)
        : session_(session),
          image_(image),
          image_path_(image_path),
          view_(session, watched_words(session)),
          last_number_(session.invocation.log.empty() ? 0 : highest_logged_number(session.invocation.log)),
          station_(session.invocation.station.empty() ? host_name() : session.invocation.station),
          run_id_(line_run_id()) {
        for (const std::string& name : watched_ports(session.invocation)) ports_.push_back(LinePort{name, PortState::idle, {}, nullptr});
    }

    ExitCode run() {
        for (;;) {
            follow_stops();
            for (LinePort& port : ports_)
                if (port.worker) follow_worker(port);
            for (LinePort& port : ports_)
                if (!ending_) look_at(port);
            view_.show(active(), totals_with_time());
            if (ending_ && running() == 0) break;
            wait_for_output(children(), wait_milliseconds);
        }
        view_.summary(totals_);
        if (workers_stopped_) return stopped_by(stop_signal());
        return log_failed_ ? ExitCode::cannot_create : first_failure_;
    }

private:
    // The first stop takes no more devices; the second stops the workers at
    // their next safe point.
    void follow_stops() {
        const int stops = stops_asked();
        if (stops >= 1 && !stop_noted_) {
            stop_noted_ = true;
            ending_ = true;
            view_.note(session_.texts.line_stopping);
        }
        if (stops < 2 || workers_stopped_) return;
        workers_stopped_ = true;
        for (LinePort& port : ports_)
            if (port.worker) port.worker->process().ask_to_stop();
    }

    // Only whether the port is there: no byte goes to it from the line.
    void look_at(LinePort& port) {
        const auto now = Clock::now();
        if (port.worker || now < port.next_look) return;
        port.next_look = now + look_interval;
        const bool present = device_port_present(port.name.c_str());
        if (port.state == PortState::programmed) {
            if (!present) port.state = PortState::idle;
            return;
        }
        if (present && may_start()) start_worker(port);
    }

    // A worker that has not reached a device yet may still become one, so
    // it counts against --count.
    bool may_start() const {
        unsigned unconnected = 0;
        for (const LinePort& port : ports_)
            if (port.worker && !port.worker->number) ++unconnected;
        const Invocation& invocation = session_.invocation;
        if (invocation.jobs != 0 && running() >= invocation.jobs) return false;
        return invocation.count == 0 || numbered_ + unconnected < invocation.count;
    }

    void start_worker(LinePort& port) {
        port.worker = std::make_unique<LineWorker>(port.name, image_path_, session_.invocation.verbose);
        if (port.worker->process().started()) {
            port.state = PortState::working;
            return;
        }
        view_.note("zelmiran-flash: " + format(session_.texts.worker_not_started, port.worker->process().failure().c_str()) + "\n");
        port.worker.reset();
        ending_ = true;
        if (first_failure_ == ExitCode::ok) first_failure_ = ExitCode::run_failed;
    }

    void give_number(LineWorker& worker) {
        if (worker.number) return;
        worker.number = ++last_number_;
        ++numbered_;
    }

    void follow_worker(LinePort& port) {
        LineWorker& worker = *port.worker;
        static_cast<void>(worker.take_output());
        if (worker.connected() && !worker.number) {
            give_number(worker);
            view_.device_started(*worker.number, port.name);
        }
        const std::optional<ProcessEnd> end = worker.process().ended();
        if (!end) {
            if (!worker.silenced && Clock::now() - worker.last_heard() > silence_limit) {
                worker.silenced = true;
                worker.process().kill();
            }
            return;
        }
        // What it wrote just before it ended; its pipe ends with it.
        for (int reads = 0; reads < 100 && worker.take_output(); ++reads) {
        }
        end_worker(port, *end);
    }

    // A worker that reached no device on a port that is there (exit 4 before
    // any greeting was answered: no monitor, or the port busy) ends no
    // device: the port is tried again.
    void end_worker(LinePort& port, const ProcessEnd& end) {
        LineWorker& worker = *port.worker;
        const bool no_device = !worker.connected() && !worker.silenced && !end.signalled &&
                               end.code == exit_number(ExitCode::no_device);
        port.next_look = Clock::now() + look_interval;
        port.state = no_device ? PortState::idle : PortState::programmed;
        if (!no_device) {
            give_number(worker);
            const CommandResult result = device_result(worker, end);
            count(result);
            view_.device_ended(result, totals_with_time());
            log(result, worker);
        }
        port.worker.reset();
    }

    CommandResult device_result(const LineWorker& worker, const ProcessEnd& end) const {
        const Texts& texts = session_.texts;
        CommandResult result;
        result.command = "line";
        result.number = worker.number;
        result.port = worker.port();
        result.image = ImageFacts{session_.invocation.file, image_.format, image_.bytes.size(), image_.sha256};
        result.seconds = std::chrono::duration<double>(Clock::now() - worker.started_at()).count();
        if (worker.result() && !worker.silenced) {
            result.code = static_cast<ExitCode>(worker.result()->exit_code);
            result.stopped = worker.result()->stopped;
            result.detail = worker.result()->detail;
            return result;
        }
        const auto silent_for = std::chrono::duration_cast<std::chrono::seconds>(silence_limit).count();
        const std::string how = end.signalled ? format(texts.worker_signal, end.code) : format(texts.worker_exit, end.code);
        result.code = ExitCode::run_failed;
        result.detail = std::string(texts.run_failed) + ": " +
                        (worker.silenced ? format(texts.worker_silent, static_cast<int>(silent_for))
                                         : format(texts.worker_ended, how.c_str()));
        return result;
    }

    void count(const CommandResult& result) {
        ++totals_.done;
        if (result.stopped) ++totals_.stopped;
        else if (result.code == ExitCode::ok) ++totals_.passed;
        else if (++totals_.failed == 1) first_failure_ = result.code;
        if (session_.invocation.count != 0 && totals_.done >= session_.invocation.count) ending_ = true;
    }

    // A log that cannot be written takes no more devices.
    void log(const CommandResult& result, const LineWorker& worker) {
        const std::string& path = session_.invocation.log;
        if (path.empty() || log_failed_) return;
        if (append_csv_row(path,
                           {utc_now(), std::to_string(*result.number), result.port, worker.chip_id(), image_.sha256,
                            std::to_string(exit_number(result.code)), format("%.3f", result.seconds), result.detail,
                            log_result(result), station_, run_id_},
                           line_log_header()))
            return;
        log_failed_ = true;
        ending_ = true;
        view_.note("zelmiran-flash: " + format(session_.texts.cannot_create, path.c_str(), std::strerror(errno)) + "\n");
    }

    unsigned running() const {
        unsigned workers = 0;
        for (const LinePort& port : ports_) workers += port.worker ? 1 : 0;
        return workers;
    }

    std::vector<ChildProcess*> children() {
        std::vector<ChildProcess*> processes;
        for (LinePort& port : ports_)
            if (port.worker) processes.push_back(&port.worker->process());
        return processes;
    }

    std::vector<ActiveDevice> active() const {
        std::vector<ActiveDevice> devices;
        for (const LinePort& port : ports_)
            if (port.worker && port.worker->number)
                devices.push_back({port.name, *port.worker->number, phase_word(session_.texts, port.worker->step()),
                                   port.worker->percent()});
        return devices;
    }

    LineTotals totals_with_time() const {
        LineTotals totals = totals_;
        totals.hours = std::chrono::duration<double>(Clock::now() - started_).count() / 3600;
        return totals;
    }

    const Session& session_;
    const ImageFile& image_;
    std::string image_path_;
    LineView view_;
    std::vector<LinePort> ports_;
    unsigned last_number_;
    unsigned numbered_ = 0;  // devices numbered by this run
    std::string station_;
    std::string run_id_;
    LineTotals totals_;
    ExitCode first_failure_ = ExitCode::ok;
    bool ending_ = false;  // no more devices taken
    bool stop_noted_ = false;
    bool workers_stopped_ = false;
    bool log_failed_ = false;
    Clock::time_point started_ = Clock::now();
};

}  // namespace

ExitCode run_line(const Session& session) {
    CommandResult refusal;
    refusal.command = "line";
    ImageFile image;
    WorkerImage worker_image;
    if (!load_command_image(session, image, refusal) || !log_writable(session, refusal) ||
        !worker_image.prepare(session, image, refusal)) {
        report_result(session, refusal);
        return refusal.code;
    }
    prepare_last_words(session, session.texts.line_stopped_at_once);
    return ProductionLine(session, image, worker_image.path()).run();
}
