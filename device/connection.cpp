#include "device/connection.h"

#include "link/monitor.h"

namespace {

// The chip identification register and the fields that make an
// AT91SAM7SE512: series, SRAM size and flash size.
constexpr std::uint32_t chip_id_register = 0xFFFFF240;
constexpr std::uint32_t chip_id_mask = 0x0FFF0F00;
constexpr std::uint32_t expected_chip_id = 0x072A0A00;

Cause cause_of_open(PortOpen open) {
    switch (open) {
    case PortOpen::missing: return Cause::port_missing;
    case PortOpen::busy: return Cause::port_busy;
    case PortOpen::denied: return Cause::port_denied;
    default: return Cause::port_not_opened;
    }
}

Cause cause_of_greeting(PortSearch greeting) {
    switch (greeting) {
    case PortSearch::timeouts_not_set:
    case PortSearch::settings_not_applied: return Cause::port_unusable;
    default: return Cause::no_greeting_answer;
    }
}

}  // namespace

PortOutcome find_device(const std::function<void(int number)>& port_opened) {
    SearchResult search = search_device_port(port_opened);
    PortOutcome result;
    result.blocked = std::move(search.blocked);
    if (search.outcome != PortSearch::found) {
        result.outcome = failed(Step::port_search, Cause::no_device, static_cast<int>(search.outcome));
        return result;
    }
    result.outcome = done(Step::port_search);
    result.port = "COM" + std::to_string(search.port_number);
    return result;
}

PortOutcome find_only_device() {
    SearchResult search = search_device_port([](int) {}, SearchExtent::every_port);
    PortOutcome result;
    if (search.answered.size() == 1) {
        result.outcome = done(Step::port_search);
        result.port = "COM" + std::to_string(search.answered.front());
        return result;
    }
    result.blocked = std::move(search.blocked);
    if (search.answered.empty()) {
        result.outcome = failed(Step::port_search, Cause::no_device, static_cast<int>(search.outcome));
        return result;
    }
    result.outcome = failed(Step::port_search, Cause::several_devices);
    for (const int number : search.answered) result.answered.push_back("COM" + std::to_string(number));
    return result;
}

PortOutcome open_device(const std::string& name) {
    const NamedPortResult opened = open_device_port(name.c_str());
    PortOutcome result;
    result.port = name;
    const int code = static_cast<int>(opened.outcome);
    if (opened.open != PortOpen::opened) {
        result.outcome = failed(Step::port_open, cause_of_open(opened.open), code);
        result.system_reason = opened.system_reason;
    } else if (opened.outcome != PortSearch::found) {
        result.outcome = failed(Step::port_open, cause_of_greeting(opened.outcome), code);
    } else {
        result.outcome = done(Step::port_open);
    }
    return result;
}

std::vector<PortReport> survey_ports() {
    std::vector<PortReport> reports;
    for (int number = first_port_number; number <= last_port_number; ++number) {
        const std::string name = "COM" + std::to_string(number);
        const NamedPortResult opened = open_device_port(name.c_str());
        PortReport report;
        report.port = name;
        report.open = opened.open;
        if (opened.open == PortOpen::busy || opened.open == PortOpen::denied) reports.push_back(report);
        if (opened.outcome != PortSearch::found) continue;
        const ControllerOutcome checked = check_controller();
        report.chip_id = checked.chip_id;
        report.controller_ok = checked.outcome.ok();
        reports.push_back(report);
        close_port();
    }
    return reports;
}

ControllerOutcome check_controller() {
    ControllerOutcome result;
    std::uint32_t chip_id = 0;
    if (read_greeting_prompt() != PortRead::complete ||
        monitor_read_word(chip_id_register, chip_id) != MonitorResult::ok) {
        result.outcome = failed(Step::controller_check, Cause::monitor_silent);
        return result;
    }
    result.chip_id = chip_id;
    result.outcome = (chip_id & chip_id_mask) == expected_chip_id
                         ? done(Step::controller_check)
                         : failed(Step::controller_check, Cause::wrong_controller);
    return result;
}
