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

std::string format_name(const Session& session, const std::string& format) {
    if (format == "ihex") return "Intel HEX";
    if (format == "elf") return "ELF";
    return session.texts.format_raw;
}

std::string check_text(const Session& session, const CommandResult& result) {
    const ImageSummary& summary = *result.summary;
    std::string ranges;
    for (const AddressRange& range : summary.ranges)
        ranges += format("%s0x%08X-0x%08X", ranges.empty() ? "" : ", ", static_cast<unsigned>(range.first),
                         static_cast<unsigned>(range.last));
    return format(session.texts.check_rows, format_name(session, summary.format).c_str(), ranges.c_str(),
                  summary.blocks, summary.bytes, summary.sha256.c_str()) +
           result.detail + "\n";
}

// The flash's bytes own standard output when read goes there.
Stream result_stream(const Session& session) {
    const bool bytes_out = session.invocation.command == Command::read && session.invocation.file == "-";
    return bytes_out ? Stream::err : Stream::out;
}

}  // namespace

void report_result(const Session& session, const CommandResult& result) {
    const Stream results = result_stream(session);
    if (session.invocation.json) {
        write_text(results, result_json(result) + "\n");
        if (result.code != ExitCode::ok) note(session, "zelmiran-flash: " + result.detail + "\n");
    } else if (result.code != ExitCode::ok) {
        write_text(Stream::err, "zelmiran-flash: " + result.detail + "\n");
    } else if (result.ports) {
        write_text(results, ports_text(session, *result.ports));
    } else if (result.info && result.info->bits) {
        write_text(results, info_text(session, result));
    } else if (result.summary) {
        write_text(results, check_text(session, result));
    } else {
        write_text(results, result.detail + "\n");
    }
}

void note(const Session& session, const std::string& text) {
    if (!session.invocation.quiet) write_text(Stream::err, text);
}
