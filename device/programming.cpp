#include "device/programming.h"

#include "device/applet_jobs.h"
#include "applet/mailbox.h"
#include "flash/checksum.h"
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

// One pass over the image's pages, `use` doing the pass's work on each.
template <typename Use>
Outcome page_pass(Step step, ImagePages& image, StepObserver& observer, Use use) {
    observer.started(step);
    unsigned char page[page_size];
    for (int index = 0;; ++index) {
        if (observer.should_stop()) return page_failure(step, Cause::stopped, index);
        const PageRead read = image.next(page);
        if (read == PageRead::failed) return page_failure(step, Cause::image_unreadable, index);
        if (Outcome outcome = use(index, page); !outcome.ok()) return outcome;
        observer.advanced(step, index + 1);
        if (read == PageRead::last) break;
    }
    observer.finished(step);
    return done(step);
}

Outcome write_pass(ImagePages& image, StepObserver& observer) {
    return page_pass(Step::write, image, observer, [](int index, const unsigned char* page) {
        return write_flash_page(static_cast<std::uint32_t>(index) * page_size, page);
    });
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
    return page_pass(Step::compare, image, observer, compare_page);
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

static_assert(CHECKSUM_BLOCK_SIZE == page_size, "a checksum block is one page");
constexpr int block_count = flash_pages;

int region_of(int block) { return static_cast<int>(static_cast<std::uint32_t>(block) * page_size / lock_region_size); }

Outcome block_failure(Step step, Cause cause, int block) { return page_failure(step, cause, block); }

// What each block must hold: the target's bytes, or for a block left as it
// is, what the device showed before.
std::vector<std::uint32_t> expected_checksums(const FlashTarget& target, const std::vector<std::uint32_t>& before) {
    std::vector<std::uint32_t> expected(block_count);
    for (int block = 0; block < block_count; ++block)
        expected[block] = target.kept[block] ? before[block]
                                             : crc32_of(target.contents.data() + block * page_size, page_size);
    return expected;
}

// The regions whose lock bit the device shows as `locked`, among
// `candidates` (all regions when empty).
Outcome regions_to_change(Step step, bool locked, const std::vector<int>& candidates, std::vector<int>& regions) {
    FlashState state;
    if (read_flash_state(state) != FlashResult::ok)
        return failed(step, Cause::status_unreadable, static_cast<int>(FlashResult::status_unreadable));
    regions.clear();
    for (int region = 0; region < lock_region_count; ++region) {
        const bool candidate =
            candidates.empty() || std::find(candidates.begin(), candidates.end(), region) != candidates.end();
        if (candidate && ((state.lock_bits >> region & 1) != 0) == locked) regions.push_back(region);
    }
    return done(step);
}

Outcome write_blocks(const FlashTarget& target, const std::vector<int>& blocks, StepObserver& observer) {
    observer.started(Step::write, static_cast<int>(blocks.size()));
    int written = 0;
    for (const int block : blocks) {
        if (observer.should_stop()) return block_failure(Step::write, Cause::stopped, block);
        const auto offset = static_cast<std::uint32_t>(block) * page_size;
        if (Outcome outcome = write_flash_page(offset, target.contents.data() + offset); !outcome.ok()) return outcome;
        observer.advanced(Step::write, ++written);
    }
    observer.finished(Step::write);
    return done(Step::write);
}

// Every block's checksum on the device against `expected`, skipping the
// blocks `skipped` marks; the first that differs is named, all are counted.
Outcome check_blocks(Step step, const std::vector<std::uint32_t>& expected, const std::vector<bool>& skipped,
                     int& differing_blocks, StepObserver& observer) {
    observer.started(step);
    std::vector<std::uint32_t> shown;
    if (Outcome read = read_block_checksums(step, 0, flash_size, shown); !read.ok()) return read;
    differing_blocks = 0;
    Outcome first = done(step);
    for (int block = 0; block < block_count; ++block) {
        if (skipped[block] || shown[block] == expected[block]) continue;
        if (differing_blocks++ == 0) first = block_failure(step, Cause::block_differs, block);
    }
    if (first.ok()) observer.finished(step);
    return first;
}

}  // namespace

Outcome write_changed_blocks(const FlashTarget& target, bool full, WriteTally& tally, StepObserver& observer) {
    if (Outcome prepared = prepare_flash_applet(observer); !prepared.ok()) return prepared;
    if (observer.should_stop()) return failed(Step::boot_bit_clear, Cause::stopped);
    if (Outcome cleared = clear_boot_bit_if_set(); !cleared.ok()) return cleared;
    observer.started(Step::checksum);
    std::vector<std::uint32_t> before;
    if (Outcome read = read_block_checksums(Step::checksum, 0, flash_size, before); !read.ok()) return read;
    observer.finished(Step::checksum);
    const std::vector<std::uint32_t> expected = expected_checksums(target, before);
    std::vector<int> changed;
    std::vector<int> touched_regions;
    for (int block = 0; block < block_count; ++block) {
        if (target.kept[block] || (!full && before[block] == expected[block])) continue;
        changed.push_back(block);
        if (touched_regions.empty() || touched_regions.back() != region_of(block)) touched_regions.push_back(region_of(block));
    }
    tally = {static_cast<int>(changed.size()), block_count - static_cast<int>(changed.size())};
    std::vector<int> regions;
    if (!changed.empty()) {
        if (Outcome found = regions_to_change(Step::unlock, true, touched_regions, regions); !found.ok()) return found;
        if (Outcome unlocked = change_regions(Step::unlock, regions, observer); !unlocked.ok()) return unlocked;
    }
    if (Outcome written = write_blocks(target, changed, observer); !written.ok()) return written;
    int differing_blocks = 0;
    if (Outcome checked =
            check_blocks(Step::check, expected, std::vector<bool>(block_count, false), differing_blocks, observer);
        !checked.ok())
        return checked;
    if (Outcome found = regions_to_change(Step::lock, false, {}, regions); !found.ok()) return found;
    if (Outcome locked = change_regions(Step::lock, regions, observer); !locked.ok()) return locked;
    return set_boot_from_flash(observer);
}

Outcome compare_by_checksum(const FlashTarget& target, int& differing_blocks, StepObserver& observer) {
    if (Outcome prepared = prepare_flash_applet(observer); !prepared.ok()) return prepared;
    std::vector<std::uint32_t> expected(block_count);
    for (int block = 0; block < block_count; ++block)
        if (!target.kept[block]) expected[block] = crc32_of(target.contents.data() + block * page_size, page_size);
    return check_blocks(Step::check, expected, target.kept, differing_blocks, observer);
}

Outcome restart_controller() {
    // The reset controller's control register: key 0xA5, processor and
    // peripheral reset. The monitor is gone before it could answer.
    constexpr std::uint32_t rstc_cr = 0xFFFFFD00;
    constexpr std::uint32_t reset_processor_and_peripherals = 0xA5000005;
    if (monitor_write_word(rstc_cr, reset_processor_and_peripherals) == MonitorResult::not_sent)
        return failed(Step::restart, Cause::registers_not_written, static_cast<int>(MonitorResult::not_sent));
    return done(Step::restart);
}

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
