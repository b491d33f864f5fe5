#include "device/applet_jobs.h"

#include "applet/mailbox.h"
#include "flash/applet_image.h"
#include "flash/flash_controller.h"
#include "flash/geometry.h"
#include "link/monitor.h"
#include "link/serial.h"

#include <cstring>
#include <algorithm>
#include <initializer_list>

namespace {

constexpr std::uint32_t boot_from_flash_bit = 2;
// The number a mailbox read back without the applet's mark is reported with.
constexpr int completion_mark_missing = 3;

unsigned char mailbox_out[MAILBOX_SIZE];
unsigned char mailbox_in[MAILBOX_SIZE];
// What the applet's INIT reported.
std::uint32_t applet_buffer_address;
std::uint32_t applet_buffer_size;
std::uint16_t reported_region_count;

// The upload's failing call, by its number on the operator's console.
enum class UploadResult : int { ok = 0, frame_not_sent = 1, image_not_sent = 2, no_prompt = 3, reply_not_read = 4 };

// The target is little-endian whatever the host is.
void put_word(std::uint32_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) mailbox_out[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t word_at(const unsigned char* mailbox, std::uint32_t offset) {
    return mailbox[offset] | mailbox[offset + 1] << 8 | mailbox[offset + 2] << 16 |
           static_cast<std::uint32_t>(mailbox[offset + 3]) << 24;
}

template <typename Code>
Outcome failure(Step step, Cause cause, Code code, int unit = -1) {
    Outcome outcome = failed(step, cause, static_cast<int>(code));
    outcome.unit = unit;
    return outcome;
}

UploadResult upload_applet() {
    const auto image = applet_image();
    const auto size = static_cast<std::uint32_t>(image.size());
    if (monitor_send_block_frame(APPLET_LOAD_ADDRESS, size) != MonitorResult::ok) return UploadResult::frame_not_sent;
    if (port_write(image.data(), size) != PortWrite::written) return UploadResult::image_not_sent;
    switch (monitor_read_prompt()) {
    case MonitorResult::ok: return UploadResult::ok;
    case MonitorResult::no_prompt: return UploadResult::no_prompt;
    default: return UploadResult::reply_not_read;
    }
}

// Starts the applet on the command in its mailbox and reads the reply. The
// outgoing copy holds the command the target's mailbox holds, INIT's zero
// included.
Outcome start_applet(Step step, int unit) {
    // A start that was not sent has closed the port; the reply is read all
    // the same, so that the link does what it always did.
    const bool start_sent = monitor_go(APPLET_LOAD_ADDRESS) == MonitorResult::ok;
    unsigned char monitor_back[2];
    if (const PortRead code = port_read(monitor_back, sizeof monitor_back); code != PortRead::complete)
        return failure(step, start_sent ? Cause::no_completion : Cause::start_not_sent, code, unit);
    if (const MonitorResult code = monitor_read_block(MAILBOX_ADDRESS, mailbox_in, MAILBOX_SIZE);
        code != MonitorResult::ok)
        return failure(step, Cause::mailbox_not_read, code, unit);
    // The applet complements the command word when it is done with it; a
    // mailbox without that mark was not answered by this command, whatever
    // its status says.
    if (word_at(mailbox_in, MAILBOX_COMMAND) != ~word_at(mailbox_out, MAILBOX_COMMAND))
        return failure(step, Cause::completion_mark_missing, completion_mark_missing, unit);
    if (const int status = mailbox_in[MAILBOX_STATUS]) return failure(step, Cause::command_refused, status, unit);
    return done(step);
}

// The arguments the applet leaves in the mailbox are those it carried the
// command out with; WRITE puts the bytes written in place of its source. A
// byte spoilt on its way to the target would otherwise pass unseen: a byte
// count of 1280 for the last page writes past the image, where no
// comparison looks.
bool arguments_as_sent() {
    const std::uint32_t command = word_at(mailbox_out, MAILBOX_COMMAND);
    for (const std::uint32_t offset : {MAILBOX_ARGUMENT_0, MAILBOX_ARGUMENT_1, MAILBOX_ARGUMENT_2}) {
        std::uint32_t sent = word_at(mailbox_out, offset);
        if (offset == MAILBOX_ARGUMENT_0 && (command == COMMAND_WRITE || command == COMMAND_CHECKSUM))
            sent = word_at(mailbox_out, MAILBOX_ARGUMENT_1);
        if (word_at(mailbox_in, offset) != sent) return false;
    }
    return true;
}

Outcome exchange(Step step, int unit = -1) {
    if (const MonitorResult code = monitor_send_block(MAILBOX_ADDRESS, mailbox_out, MAILBOX_SIZE);
        code != MonitorResult::ok)
        return failure(step, Cause::mailbox_not_sent, code, unit);
    if (Outcome started = start_applet(step, unit); !started.ok()) return started;
    if (!arguments_as_sent()) return failure(step, Cause::arguments_changed, completion_mark_missing, unit);
    return done(step);
}

// One command per lock region with the index in argument 0, each told to
// the observer; the first region is always sent.
Outcome for_each_region(Step step, StepObserver& observer) {
    std::uint32_t index = 0;
    do {
        if (observer.should_stop()) return failure(step, Cause::stopped, 0, static_cast<int>(index));
        put_word(MAILBOX_ARGUMENT_0, index);
        if (Outcome outcome = exchange(step, static_cast<int>(index)); !outcome.ok()) return outcome;
        observer.advanced(step, static_cast<int>(++index));
    } while (index < reported_region_count);
    observer.finished(step);
    return done(step);
}

// What the device itself shows once the run is done, rather than what the
// applet answered: every region of both banks locked (the chip has 32,
// whatever INIT reported) and the boot bit set.
Outcome confirm_end_state() {
    FlashState state;
    if (read_flash_state(state) != FlashResult::ok)
        return failure(Step::boot_bit, Cause::status_unreadable, FlashResult::status_unreadable);
    if (!state.all_locked()) return failed(Step::boot_bit, Cause::locks_not_set);
    if (!state.boots_from_flash()) return failed(Step::boot_bit, Cause::boot_bit_not_set);
    return done(Step::boot_bit);
}

// One command per region of `regions`, each told to the observer.
Outcome for_regions(Step step, const std::vector<int>& regions, StepObserver& observer) {
    observer.started(step, static_cast<int>(regions.size()));
    int done_count = 0;
    for (const int region : regions) {
        if (observer.should_stop()) return failure(step, Cause::stopped, 0, region);
        put_word(MAILBOX_ARGUMENT_0, static_cast<std::uint32_t>(region));
        if (Outcome outcome = exchange(step, region); !outcome.ok()) return outcome;
        observer.advanced(step, ++done_count);
    }
    observer.finished(step);
    return done(step);
}

// The commit point must come last: a device that still shows the boot bit
// once its flash is being erased would start a half-written image at the
// next power-up, should the run stop. Cleared, it starts its boot monitor.
// A bit already clear costs one status read. The outgoing mailbox is left
// as INIT left it, so that the unlocks send what they always sent.
}  // namespace

Outcome clear_boot_bit_if_set() {
    std::uint32_t status = 0;
    if (read_flash_status(0, status) != FlashResult::ok)
        return failure(Step::boot_bit_clear, Cause::status_unreadable, FlashResult::status_unreadable);
    if (!(status & fsr_gpnvm2)) return done(Step::boot_bit_clear);
    put_word(MAILBOX_COMMAND, COMMAND_GPNVM);
    put_word(MAILBOX_ARGUMENT_0, 0);
    put_word(MAILBOX_ARGUMENT_1, boot_from_flash_bit);
    const Outcome cleared = exchange(Step::boot_bit_clear);
    std::memset(mailbox_out, 0, MAILBOX_SIZE);
    if (!cleared.ok()) return cleared;
    if (read_flash_status(0, status) != FlashResult::ok)
        return failure(Step::boot_bit_clear, Cause::status_unreadable, FlashResult::status_unreadable);
    if (status & fsr_gpnvm2) return failure(Step::boot_bit_clear, Cause::boot_bit_not_cleared, completion_mark_missing);
    return done(Step::boot_bit_clear);
}

namespace {

// Pages go where INIT says; a damaged or foreign reply must not send them
// over the applet, into registers, flash or ROM. The whole page must lie in
// SRAM after the applet image.
bool buffer_fits(std::uint32_t address) {
    return address >= APPLET_LOAD_ADDRESS + applet_image().size() && address <= sram_end - page_size;
}

}  // namespace

Outcome prepare_flash_applet(StepObserver& observer) {
    observer.started(Step::applet);
    std::memset(mailbox_out, 0, MAILBOX_SIZE);
    std::memset(mailbox_in, 0, MAILBOX_SIZE);
    if (const FlashResult code = set_flash_modes(); code != FlashResult::ok)
        return failure(Step::applet, Cause::registers_not_written, code);
    if (const UploadResult code = upload_applet(); code != UploadResult::ok)
        return failure(Step::applet, Cause::applet_not_uploaded, code);
    // The freshly uploaded image carries INIT in its own mailbox.
    if (Outcome started = start_applet(Step::applet, -1); !started.ok()) return started;
    applet_buffer_address = word_at(mailbox_in, MAILBOX_BUFFER_ADDRESS);
    if (!buffer_fits(applet_buffer_address)) {
        Outcome outcome = failed(Step::applet, Cause::buffer_outside_sram);
        outcome.address = applet_buffer_address;
        return outcome;
    }
    applet_buffer_size = word_at(mailbox_in, MAILBOX_ARGUMENT_2);
    reported_region_count = static_cast<std::uint16_t>(mailbox_in[MAILBOX_LOCK_REGION_COUNT] |
                                                       mailbox_in[MAILBOX_LOCK_REGION_COUNT + 1] << 8);
    observer.finished(Step::applet);
    return done(Step::applet);
}

Outcome unlock_and_erase_all(StepObserver& observer) {
    observer.started(Step::unlock);
    if (observer.should_stop()) return failed(Step::boot_bit_clear, Cause::stopped);
    if (Outcome cleared = clear_boot_bit_if_set(); !cleared.ok()) return cleared;
    put_word(MAILBOX_COMMAND, COMMAND_UNLOCK);
    if (Outcome unlocked = for_each_region(Step::unlock, observer); !unlocked.ok()) return unlocked;
    observer.started(Step::erase);
    put_word(MAILBOX_COMMAND, COMMAND_ERASE_ALL);
    put_word(MAILBOX_ARGUMENT_0, 0);
    if (Outcome erased = exchange(Step::erase); !erased.ok()) return erased;
    observer.finished(Step::erase);
    return done(Step::erase);
}

Outcome write_flash_page(std::uint32_t offset, const unsigned char* page) {
    const int unit = static_cast<int>(offset / page_size);
    if (const MonitorResult code = monitor_send_block(applet_buffer_address, page, page_size);
        code != MonitorResult::ok) {
        Outcome outcome = failure(Step::write, Cause::page_not_sent, code, unit);
        outcome.address = flash_base + offset;
        return outcome;
    }
    put_word(MAILBOX_COMMAND, COMMAND_WRITE);
    put_word(MAILBOX_ARGUMENT_0, applet_buffer_address);
    put_word(MAILBOX_ARGUMENT_1, page_size);
    put_word(MAILBOX_ARGUMENT_2, offset);
    Outcome outcome = exchange(Step::write, unit);
    outcome.address = flash_base + offset;
    return outcome;
}

Outcome change_regions(Step step, const std::vector<int>& regions, StepObserver& observer) {
    std::memset(mailbox_out, 0, MAILBOX_SIZE);
    put_word(MAILBOX_COMMAND, step == Step::lock ? COMMAND_LOCK : COMMAND_UNLOCK);
    return for_regions(step, regions, observer);
}

Outcome read_block_checksums(Step step, std::uint32_t offset, std::uint32_t length,
                             std::vector<std::uint32_t>& checksums) {
    checksums.clear();
    // As many blocks a command as the buffer has words for them.
    const std::uint32_t blocks_per_command = std::max<std::uint32_t>(applet_buffer_size / 4, 1);
    for (std::uint32_t at = offset; at < offset + length;) {
        const std::uint32_t blocks = std::min(blocks_per_command, (offset + length - at) / CHECKSUM_BLOCK_SIZE);
        std::memset(mailbox_out, 0, MAILBOX_SIZE);
        put_word(MAILBOX_COMMAND, COMMAND_CHECKSUM);
        put_word(MAILBOX_ARGUMENT_0, applet_buffer_address);
        put_word(MAILBOX_ARGUMENT_1, blocks * CHECKSUM_BLOCK_SIZE);
        put_word(MAILBOX_ARGUMENT_2, at);
        Outcome computed = exchange(step);
        std::memset(mailbox_out, 0, MAILBOX_SIZE);
        if (!computed.ok()) return computed;
        std::vector<unsigned char> words(blocks * 4);
        if (const MonitorResult code = monitor_read_block(applet_buffer_address, words.data(), blocks * 4);
            code != MonitorResult::ok)
            return failure(step, Cause::mailbox_not_read, code);
        for (std::uint32_t block = 0; block < blocks; ++block) checksums.push_back(word_at(words.data(), block * 4));
        at += blocks * CHECKSUM_BLOCK_SIZE;
    }
    return done(step);
}

Outcome lock_all_regions(StepObserver& observer) {
    std::memset(mailbox_out, 0, MAILBOX_SIZE);
    observer.started(Step::lock);
    put_word(MAILBOX_COMMAND, COMMAND_LOCK);
    return for_each_region(Step::lock, observer);
}

Outcome set_boot_from_flash(StepObserver& observer) {
    std::memset(mailbox_out, 0, MAILBOX_SIZE);
    observer.started(Step::boot_bit);
    if (observer.should_stop()) return failed(Step::boot_bit, Cause::stopped);
    put_word(MAILBOX_COMMAND, COMMAND_GPNVM);
    put_word(MAILBOX_ARGUMENT_0, 1);
    put_word(MAILBOX_ARGUMENT_1, boot_from_flash_bit);
    if (Outcome set = exchange(Step::boot_bit); !set.ok()) return set;
    if (Outcome confirmed = confirm_end_state(); !confirmed.ok()) return confirmed;
    observer.finished(Step::boot_bit);
    return done(Step::boot_bit);
}
