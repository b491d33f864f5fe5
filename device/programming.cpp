#include "device/programming.h"

#include "device/applet_jobs.h"
#include "flash/geometry.h"
#include "link/monitor.h"

#include <algorithm>
#include <vector>

namespace {

// Four pages a frame: a quarter of the per-page round trips, still well
// inside one read's time budget at USB full speed.
constexpr std::uint32_t read_block = 4 * page_size;

Outcome page_failure(Step step, Cause cause, int page, int code = 0) {
    Outcome outcome = failed(step, cause, code);
    outcome.unit = page;
    outcome.address = flash_base + static_cast<std::uint32_t>(page) * page_size;
    return outcome;
}

Outcome write_pass(ImagePages& image, StepObserver& observer) {
    observer.started(Step::write);
    unsigned char page[page_size];
    for (int index = 0;; ++index) {
        if (observer.should_stop()) return page_failure(Step::write, Cause::stopped, index);
        const PageRead read = image.next(page);
        if (read == PageRead::failed) return page_failure(Step::write, Cause::image_unreadable, index);
        const auto offset = static_cast<std::uint32_t>(index) * page_size;
        if (Outcome written = write_flash_page(offset, page); !written.ok()) return written;
        observer.advanced(Step::write, index + 1);
        if (read == PageRead::last) break;
    }
    observer.finished(Step::write);
    return done(Step::write);
}

Outcome compare_page(int index, const unsigned char* expected) {
    const std::uint32_t address = flash_base + static_cast<std::uint32_t>(index) * page_size;
    unsigned char flash[page_size];
    if (const MonitorResult code = monitor_read_block(address, flash, page_size); code != MonitorResult::ok)
        return page_failure(Step::compare, Cause::page_not_read, index, static_cast<int>(code));
    for (std::uint32_t i = 0; i < page_size; ++i) {
        if (expected[i] == flash[i]) continue;
        Outcome outcome = page_failure(Step::compare, Cause::mismatch, index);
        outcome.address = address + i;
        outcome.image_byte = expected[i];
        outcome.flash_byte = flash[i];
        return outcome;
    }
    return done(Step::compare);
}

Outcome compare_pass(ImagePages& image, StepObserver& observer) {
    image.rewind();
    observer.started(Step::compare);
    unsigned char page[page_size];
    for (int index = 0;; ++index) {
        if (observer.should_stop()) return page_failure(Step::compare, Cause::stopped, index);
        const PageRead read = image.next(page);
        if (read == PageRead::failed) return page_failure(Step::compare, Cause::image_unreadable, index);
        if (Outcome compared = compare_page(index, page); !compared.ok()) return compared;
        observer.advanced(Step::compare, index + 1);
        if (read == PageRead::last) break;
    }
    observer.finished(Step::compare);
    return done(Step::compare);
}

Outcome of_flash_result(Step step, FlashResult result) {
    switch (result) {
    case FlashResult::ok: return done(step);
    case FlashResult::write_failed: return failed(step, Cause::registers_not_written, static_cast<int>(result));
    case FlashResult::status_unreadable: return failed(step, Cause::status_unreadable, static_cast<int>(result));
    case FlashResult::not_ready_before:
    case FlashResult::not_ready_after: return failed(step, Cause::controller_not_ready, static_cast<int>(result));
    case FlashResult::boot_bit_not_set: break;
    }
    return failed(step, Cause::boot_bit_not_set, static_cast<int>(result));
}

}  // namespace

Outcome program_flash(ImagePages& image, StepObserver& observer) {
    if (Outcome outcome = prepare_flash_applet(observer); !outcome.ok()) return outcome;
    if (Outcome outcome = unlock_and_erase_all(observer); !outcome.ok()) return outcome;
    if (Outcome outcome = write_pass(image, observer); !outcome.ok()) return outcome;
    if (Outcome outcome = compare_pass(image, observer); !outcome.ok()) return outcome;
    if (Outcome outcome = lock_all_regions(observer); !outcome.ok()) return outcome;
    return set_boot_from_flash(observer);
}

Outcome cancel_programming() {
    FlashResult result = set_flash_modes();
    if (result == FlashResult::ok) result = cancel_programming_mode();
    return of_flash_result(Step::cancel, result);
}

Outcome prepare_flash_reads() { return of_flash_result(Step::flash_modes, set_flash_modes()); }

Outcome read_flash_bits(FlashState& state) { return of_flash_result(Step::flash_state, read_flash_state(state)); }

Outcome read_flash(std::uint32_t offset, std::uint32_t length, const FlashBlockUse& use, StepObserver& observer) {
    std::vector<unsigned char> block(read_block);
    observer.started(Step::flash_read);
    for (std::uint32_t done_bytes = 0; done_bytes < length; done_bytes += read_block) {
        const std::uint32_t count = std::min(read_block, length - done_bytes);
        const std::uint32_t at = offset + done_bytes;
        if (observer.should_stop()) {
            Outcome outcome = failed(Step::flash_read, Cause::stopped);
            outcome.address = flash_base + at;
            return outcome;
        }
        if (const MonitorResult code = monitor_read_block(flash_base + at, block.data(), count);
            code != MonitorResult::ok) {
            Outcome outcome = failed(Step::flash_read, Cause::page_not_read, static_cast<int>(code));
            outcome.address = flash_base + at;
            return outcome;
        }
        if (!use(at, block.data(), count)) break;
        observer.advanced(Step::flash_read, static_cast<int>(done_bytes + count));
    }
    observer.finished(Step::flash_read);
    return done(Step::flash_read);
}
