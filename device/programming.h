// The device's flash work as both programs do it: the programming run
// (applet, unlock and erase, write pass, compare pass, lock, boot bit), the
// cancel of programming mode, and reads of the flash and its state.
#pragma once

#include "device/outcome.h"
#include "flash/flash_controller.h"

#include <cstdint>
#include <functional>
#include <vector>

// more: a page was given and others follow; last: the page given is the
// image's last; failed: the image could not be read.
enum class [[nodiscard]] PageRead { more, last, failed };

// The image as the passes take it, page by page from its start.
class ImagePages {
public:
    virtual ~ImagePages() = default;
    // Fills `page` (page_size bytes) with the next page.
    virtual PageRead next(unsigned char* page) = 0;
    // Back to the first page, for the compare pass.
    virtual void rewind() = 0;
};

// The run up to its last step: the boot bit is set only once every page
// compared and every region locked.
Outcome program_flash(ImagePages& image, StepObserver& observer);

// What the flash must hold after a write: every byte of it, and which
// blocks (of CHECKSUM_BLOCK_SIZE) are to be left as they are.
struct FlashTarget {
    std::vector<unsigned char> contents;  // flash_size bytes
    std::vector<bool> kept;               // per block: left as it is
};

struct WriteTally {
    int blocks_written = 0;
    int blocks_unchanged = 0;
};

// Writes only the blocks whose checksum on the device differs from what the
// flash must hold (every block with `full`), unlocking only the regions
// they lie in, then checks every block by checksum, locks every region and
// sets the boot bit. The boot bit is cleared first, so that a write that
// stops leaves a device that starts its boot monitor.
Outcome write_changed_blocks(const FlashTarget& target, bool full, WriteTally& tally, StepObserver& observer);

// Compares every block of the flash that `target` does not keep with it by
// checksum, counting the blocks that differ; the first is named by the
// outcome (block_differs).
Outcome compare_by_checksum(const FlashTarget& target, int& differing_blocks, StepObserver& observer);

// Resets the controller through its reset controller, so that it starts
// what the boot bit chooses.
Outcome restart_controller();

// Sets the flash timing, then the boot bit through the registers, so that
// the device starts its firmware again.
Outcome cancel_programming();

// The flash timing set before reads: safe at any clock the monitor runs.
Outcome prepare_flash_reads();
Outcome read_flash_bits(FlashState& state);

// Reads `length` bytes of flash from `offset` (from the flash's start) block
// by block, handing each to `use` until it says no; advanced() counts bytes.
using FlashBlockUse = std::function<bool(std::uint32_t offset, const unsigned char* bytes, std::uint32_t count)>;
Outcome read_flash(std::uint32_t offset, std::uint32_t length, const FlashBlockUse& use, StepObserver& observer);
