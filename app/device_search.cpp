#include "app/device_search.h"

#include "app/messages.h"
#include "device/connection.h"

namespace {

// One line per port, since the updater cannot tell which of them is the device.
void explain_blocked_ports(const std::vector<BlockedPort>& blocked) {
    for (const auto& [name, reason] : blocked) {
        if (reason == PortOpen::busy)
            oem_print_with_name("   %s занят другой программой: закройте её и запустите обновление снова", name.c_str());
        else
            oem_print_with_name("   %s: нет доступа (добавьте пользователя в группу dialout)", name.c_str());
        print_plain(" \n");
    }
}

}  // namespace

PortSearch find_device_port() {
    const PortOutcome found = find_device([](int number) { print_formatted(".%d.", number); });
    print_plain(" \n");
    if (found.outcome.ok()) return PortSearch::found;
    explain_blocked_ports(found.blocked);
    return static_cast<PortSearch>(found.outcome.code);
}
