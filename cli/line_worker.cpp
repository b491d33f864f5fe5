#include "cli/line_worker.h"

#include "cli/json.h"

#include <cstdlib>
#include <map>

namespace {

std::vector<std::string> worker_arguments(const std::string& port, const std::string& image, bool verbose) {
    std::vector<std::string> arguments = {"--port", port, "--json", "--worker"};
    if (verbose) arguments.push_back("--verbose");
    // After "--", an image named like an option is still the image.
    arguments.insert(arguments.end(), {"write", "--", image});
    return arguments;
}

int number_of(const std::map<std::string, std::string>& members, const char* key) {
    const auto found = members.find(key);
    return found == members.end() ? 0 : std::atoi(found->second.c_str());
}

std::string text_of(const std::map<std::string, std::string>& members, const char* key) {
    const auto found = members.find(key);
    return found == members.end() ? std::string() : found->second;
}

}  // namespace

LineWorker::LineWorker(const std::string& port, const std::string& image, bool verbose)
    : port_(port), process_(worker_arguments(port, image, verbose)) {}

bool LineWorker::take_output() {
    std::string text;
    const bool open = process_.read_output(text);
    if (!text.empty()) last_heard_ = Clock::now();
    pending_ += text;
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        take_line(pending_.substr(0, end));
        pending_.erase(0, end + 1);
    }
    return open;
}

// Anything but a JSON object is no word to the line.
void LineWorker::take_line(const std::string& line) {
    std::map<std::string, std::string> members;
    if (!read_json_members(line, members)) return;
    const std::string event = text_of(members, "event");
    if (event == "connected") {
        connected_ = true;
        chip_id_ = text_of(members, "chip_id");
    } else if (event == "progress") {
        step_ = text_of(members, "step");
        done_ = number_of(members, "done");
        total_ = number_of(members, "total");
    } else if (members.count("exit_code") != 0) {
        result_ = WorkerResult{number_of(members, "exit_code"), text_of(members, "result") == "stopped",
                               text_of(members, "detail")};
    }
}

std::optional<int> LineWorker::percent() const {
    if (total_ <= 0) return std::nullopt;
    return done_ * 100 / total_;
}
