#include "app/programming_run.h"

#include "app/update_driver.h"
#include "flash/applet_jobs.h"
#include "link/monitor.h"
#include "ui/messages.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint32_t flash_base = 0x00100000;
// 512 pages of 1024 bytes fill the flash; the rest of a longer file is ignored.
constexpr std::int16_t max_pages = 512;
constexpr std::int16_t pages_per_dot = 32;

unsigned char verify_buffer[page_size];

// Fills `buffer` from the firmware stream, zero after a short read.
void read_file_page(unsigned char* buffer) {
    std::memset(buffer, 0, page_size);
    firmware_stream.read(reinterpret_cast<char*>(buffer), page_size);
}

// After the page just done: a dot per 32 pages; true while pages remain.
bool next_page(std::int16_t& page) {
    if (++page % pages_per_dot == 0) std::fputs(".", stdout);
    return page < max_pages && !firmware_stream.eof();
}

bool write_pass() {
    oem_print("     Программирование ");
    std::int16_t page = 0;
    do {
        read_file_page(page_buffer);
        if (write_flash_page(static_cast<std::uint32_t>(page) * page_size)) return false;
    } while (next_page(page));
    return true;
}

bool verify_page(std::uint32_t address) {
    if (monitor_read_page(address)) {
        oem_print(" - ошибка чтения !");
        std::fputs(" \n", stdout);
        return false;
    }
    for (std::uint32_t j = 0; j < page_size; ++j) {
        if (verify_buffer[j] == page_buffer[j]) continue;
        oem_print(" - ошибка сравнения !");
        std::fputs(" \n", stdout);
        std::printf("ADR = %X , DFILE = %X , DFLASH = %X \n", static_cast<unsigned>(address + j),
                    static_cast<unsigned>(verify_buffer[j]), static_cast<unsigned>(page_buffer[j]));
        return false;
    }
    return true;
}

bool verify_pass() {
    std::int16_t page = 0;
    do {
        read_file_page(verify_buffer);
        if (!verify_page(flash_base + static_cast<std::uint32_t>(page) * page_size)) return false;
    } while (next_page(page));
    return true;
}

// The run up to the final box; false after the failing step's own lines.
bool program_flash() {
    if (prepare_flash_applet() || unlock_and_erase_all() || !write_pass()) return false;
    // Clear first: a stream with its fail flag set does not move.
    firmware_stream.clear();
    firmware_stream.seekg(0);
    std::fputs(" OK \n", stdout);
    oem_print("     Сравнение ");
    if (!verify_pass()) return false;
    std::fputs(" OK \n", stdout);
    return lock_all_regions() == 0 && set_boot_from_flash() == 0;
}

}  // namespace

void run_programming() {
    if (program_flash()) box_write_done();
    else box_error_11();
}
