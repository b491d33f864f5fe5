#include "cli/result.h"

#include "cli/json.h"
#include "cli/texts.h"

namespace {

std::string hex_word(std::uint32_t value) { return format("0x%08X", static_cast<unsigned>(value)); }
std::string hex_byte(unsigned value) { return format("0x%02X", value); }

void add_info(JsonObject& json, const InfoFacts& info) {
    if (info.chip_id) json.add_string("chip_id", hex_word(*info.chip_id));
    json.add_bool("controller_ok", info.controller_ok);
    if (!info.bits) return;
    json.add_string("lock_bits", hex_word(info.bits->lock_bits));
    json.add_integers("gpnvm", {info.bits->gpnvm[0], info.bits->gpnvm[1], info.bits->gpnvm[2]});
    json.add_integer("security", info.bits->security);
}

// busy, denied, or what the device answered.
const char* port_state(const PortReport& port) {
    if (port.open == PortOpen::busy) return "busy";
    if (port.open == PortOpen::denied) return "denied";
    return "device";
}

void add_ports(JsonObject& json, const std::vector<PortReport>& ports) {
    std::vector<JsonObject> entries;
    for (const PortReport& port : ports) {
        JsonObject entry;
        entry.add_string("port", port.port).add_string("state", port_state(port));
        if (port.chip_id) entry.add_string("chip_id", hex_word(*port.chip_id)).add_bool("controller_ok", port.controller_ok);
        entries.push_back(entry);
    }
    json.add_objects("ports", entries);
}

void add_summary(JsonObject& json, const ImageSummary& summary) {
    std::vector<std::vector<std::string>> ranges;
    for (const AddressRange& range : summary.ranges) ranges.push_back({hex_word(range.first), hex_word(range.last)});
    json.add_string("format", summary.format)
        .add_string_rows("ranges", ranges)
        .add_integer("blocks", static_cast<std::int64_t>(summary.blocks))
        .add_integer("bytes", static_cast<std::int64_t>(summary.bytes))
        .add_string("sha256", summary.sha256)
        .add_integer("write_blocks", static_cast<std::int64_t>(summary.write_blocks));
}

}  // namespace

std::string result_json(const CommandResult& result) {
    JsonObject json;
    json.add_string("command", result.command);
    if (result.number) json.add_integer("number", *result.number);
    json.add_string("port", result.port)
        .add_string("result", result.stopped ? "stopped" : result.code == ExitCode::ok ? "ok" : "failed")
        .add_integer("exit_code", exit_number(result.code))
        .add_seconds("seconds", result.seconds)
        .add_string("detail", result.detail);
    if (result.info) add_info(json, *result.info);
    if (result.image) {
        JsonObject image;
        image.add_string("path", result.image->path)
            .add_string("format", result.image->format)
            .add_integer("bytes", static_cast<std::int64_t>(result.image->bytes))
            .add_string("sha256", result.image->sha256);
        json.add_object("image", image);
    }
    if (result.difference) {
        json.add_integer("differences", static_cast<std::int64_t>(result.difference->count));
        if (result.difference->count > 0) {
            JsonObject first;
            first.add_string("address", hex_word(result.difference->address))
                .add_string("image", hex_byte(result.difference->image_byte))
                .add_string("flash", hex_byte(result.difference->flash_byte));
            json.add_object("first_difference", first);
        }
    }
    if (result.written) {
        json.add_integer("blocks_written", result.written->blocks_written)
            .add_integer("blocks_unchanged", result.written->blocks_unchanged)
            .add_string("check", "crc32");
    }
    if (result.block_difference) {
        json.add_integer("differing_blocks", result.block_difference->blocks);
        if (result.block_difference->blocks > 0) {
            JsonObject first;
            first.add_string("start", hex_word(result.block_difference->first_block_start))
                .add_string("end", hex_word(result.block_difference->first_block_end));
            json.add_object("first_differing_block", first);
        }
    }
    if (result.ports) add_ports(json, *result.ports);
    if (result.file) json.add_string("file", *result.file);
    if (result.bytes) json.add_integer("bytes", static_cast<std::int64_t>(*result.bytes));
    if (result.summary) add_summary(json, *result.summary);
    return json.text();
}
