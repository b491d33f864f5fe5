#include "app/programming_run.h"

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

// A read that stopped short of the end of the file: the rest of the image is
// unknown, so nothing may be taken for it.
bool read_failed(const std::istream& image) { return image.bad() || (image.fail() && !image.eof()); }

// Fills `buffer` from the image, zero after a short read at the end; false,
// after its console line, when the read failed.
bool read_file_page(std::istream& image, unsigned char* buffer) {
    std::memset(buffer, 0, page_size);
    image.read(reinterpret_cast<char*>(buffer), page_size);
    if (!read_failed(image)) return true;
    oem_print(" - ошибка чтения файла !");
    std::fputs(" \n", stdout);
    return false;
}

// After the page just done: a dot per 32 pages; true while pages remain.
bool next_page(const std::istream& image, std::int16_t& page) {
    if (++page % pages_per_dot == 0) std::fputs(".", stdout);
    return page < max_pages && !image.eof();
}

bool write_pass(std::istream& image) {
    oem_print("     Программирование ");
    std::int16_t page = 0;
    do {
        if (!read_file_page(image, page_buffer)) return false;
        if (write_flash_page(static_cast<std::uint32_t>(page) * page_size)) return false;
    } while (next_page(image, page));
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

bool verify_pass(std::istream& image) {
    std::int16_t page = 0;
    do {
        if (!read_file_page(image, verify_buffer)) return false;
        if (!verify_page(flash_base + static_cast<std::uint32_t>(page) * page_size)) return false;
    } while (next_page(image, page));
    return true;
}

// Clear first: a stream with its fail flag set does not move.
void rewind(std::istream& image) {
    image.clear();
    image.seekg(0);
}

// The run up to the final box; false after the failing step's own lines.
bool program_flash(std::istream& image) {
    if (prepare_flash_applet() || unlock_and_erase_all() || !write_pass(image)) return false;
    rewind(image);
    std::fputs(" OK \n", stdout);
    oem_print("     Сравнение ");
    if (!verify_pass(image)) return false;
    std::fputs(" OK \n", stdout);
    return lock_all_regions() == 0 && set_boot_from_flash() == 0;
}

}  // namespace

bool image_reads_through(std::istream& image) {
    image.ignore(static_cast<std::streamsize>(max_pages) * page_size);
    const bool read_through = !read_failed(image);
    rewind(image);
    return read_through && !image.fail();
}

void run_programming(std::istream& image) {
    if (program_flash(image)) box_write_done();
    else box_error_11();
}
