#include "cli/device.h"

#include "app/device_stage.h"
#include "cli/dialogue_record.h"
#include "flash/flash_controller.h"
#include "link/serial.h"
#include "link/serial_platform.h"

namespace {

constexpr std::uint32_t fsr_security = 1u << 4;
constexpr int fsr_gpnvm_shift = 8;
constexpr int fsr_locks_shift = 16;

Connection failed(Connection connection, ExitCode code, std::string problem) {
    close_port();
    connection.code = code;
    connection.problem = std::move(problem);
    return connection;
}

// What the shared code said on the console, after our own reason.
std::string with_lines(std::string problem, const DialogueRecord& record) {
    const std::string lines = joined_lines(record.lines);
    return lines.empty() ? problem : problem + "; " + lines;
}

}  // namespace

Connection connect_device(const std::string& port_name, const Texts& texts) {
    Connection connection;
    begin_dialogue_record(nullptr, {}, 0);
    if (port_name.empty()) {
        int number = 0;
        const PortSearch searched = find_device_port(number);
        const DialogueRecord record = end_dialogue_record();
        if (searched != PortSearch::found) return failed(connection, ExitCode::no_device, with_lines(texts.search_failed, record));
        connection.port = "COM" + std::to_string(number);
    } else {
        connection.port = port_name;
        const PortSearch opened = open_device_port(port_name.c_str());
        end_dialogue_record();
        if (opened == PortSearch::not_opened)
            return failed(connection, ExitCode::no_device,
                          format(texts.port_not_opened, port_name.c_str(), platform_failure()));
        if (opened != PortSearch::found)
            return failed(connection, ExitCode::no_device, format(texts.port_no_answer, port_name.c_str()));
    }
    switch (check_controller(connection.chip_id)) {
    case ControllerCheck::ok:
        connection.chip_id_read = true;
        return connection;
    case ControllerCheck::no_answer:
        return failed(connection, ExitCode::no_monitor, format(texts.monitor_silent, connection.port.c_str()));
    case ControllerCheck::wrong_controller:
        connection.chip_id_read = true;
        return failed(connection, ExitCode::no_monitor,
                      format(texts.wrong_controller, connection.port.c_str(), static_cast<unsigned>(connection.chip_id)));
    }
    return connection;
}

bool read_flash_bits(FlashBits& bits) {
    std::uint32_t efc0 = 0;
    std::uint32_t efc1 = 0;
    if (read_flash_status(0, efc0) != FlashResult::ok || read_flash_status(1, efc1) != FlashResult::ok) return false;
    // Regions 0 to 15 belong to controller 0, 16 to 31 to controller 1; the
    // GPNVM and security bits are the chip's, shown by controller 0.
    bits.lock_bits = (efc0 & fsr_all_locks) >> fsr_locks_shift | (efc1 & fsr_all_locks);
    for (int bit = 0; bit < 3; ++bit) bits.gpnvm[bit] = static_cast<int>(efc0 >> (fsr_gpnvm_shift + bit) & 1);
    bits.security = (efc0 & fsr_security) ? 1 : 0;
    return true;
}
