#include "cli/output.h"

#include "cli/platform.h"

namespace {

std::string info_text(const Session& session, const CommandResult& result) {
    const InfoFacts& info = *result.info;
    const FlashState& bits = *info.bits;
    return format(session.texts.info_rows, result.port.c_str(), static_cast<unsigned>(info.chip_id.value_or(0)),
                  " (AT91SAM7SE512)", static_cast<unsigned>(bits.lock_bits), bits.gpnvm[0], bits.gpnvm[1],
                  bits.gpnvm[2], bits.security);
}

std::string ports_text(const Session& session, const std::vector<PortReport>& ports) {
    std::string text;
    for (const PortReport& port : ports) {
        if (port.open == PortOpen::busy || port.open == PortOpen::denied) {
            text += format("%-8s %s\n", port.port.c_str(),
                           port.open == PortOpen::busy ? session.texts.port_busy : session.texts.port_denied);
            continue;
        }
        text += format("%-8s 0x%08X  %s\n", port.port.c_str(), static_cast<unsigned>(port.chip_id.value_or(0)),
                       port.controller_ok ? "AT91SAM7SE512" : session.texts.not_the_controller);
    }
    return text.empty() ? session.texts.no_ports : text;
}

}  // namespace

void report_result(const Session& session, const CommandResult& result) {
    if (session.invocation.json) {
        write_text(Stream::out, result_json(result) + "\n");
        if (result.code != ExitCode::ok) note(session, "zelmiran-flash: " + result.detail + "\n");
    } else if (result.code != ExitCode::ok) {
        write_text(Stream::err, "zelmiran-flash: " + result.detail + "\n");
    } else if (result.ports) {
        write_text(Stream::out, ports_text(session, *result.ports));
    } else if (result.info && result.info->bits) {
        write_text(Stream::out, info_text(session, result));
    } else {
        write_text(Stream::out, result.detail + "\n");
    }
}

void note(const Session& session, const std::string& text) {
    if (!session.invocation.quiet) write_text(Stream::err, text);
}

void note_line_stopping(const Session& session) {
    static bool said = false;
    if (said) return;
    said = true;
    note(session, session.texts.line_stopping);
}
