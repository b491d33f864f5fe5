#include "app/programming_run.h"

#include "flash/applet_jobs.h"
#include "link/monitor.h"
#include "ui/messages.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint32_t flash_base = 0x00100000;
// 512 pages of 1024 bytes fill the flash; the rest of a longer file is ignored.
constexpr std::int16_t max_pages = 512;

// The page of the image in transit, and in the verify pass the same page as
// the flash holds it.
unsigned char file_page[page_size];
unsigned char flash_page[page_size];

// A read that stopped short of the end of the file: the rest of the image is
// unknown, so nothing may be taken for it.
bool read_failed(const std::istream& image) { return image.bad() || (image.fail() && !image.eof()); }

// Fills `page` from the image, zero after a short read at the end; false,
// after its console line, when the read failed.
bool read_file_page(std::istream& image, unsigned char* page) {
    std::memset(page, 0, page_size);
    image.read(reinterpret_cast<char*>(page), page_size);
    if (!read_failed(image)) return true;
    oem_print(" - ошибка чтения файла !");
    print_plain(" \n");
    return false;
}

// After the page just done, reported to the dialogue; true while pages remain.
bool next_page(const std::istream& image, RunPass pass, std::int16_t page_limit, std::int16_t& page) {
    show_page_done(pass, ++page);
    return page < page_limit && !image.eof();
}

bool write_pass(std::istream& image, std::int16_t page_limit) {
    oem_print("     Программирование ");
    std::int16_t page = 0;
    do {
        if (!read_file_page(image, file_page)) return false;
        if (write_flash_page(static_cast<std::uint32_t>(page) * page_size, file_page) != JobResult::ok) return false;
    } while (next_page(image, RunPass::write, page_limit, page));
    return true;
}

bool verify_page(std::uint32_t address) {
    if (monitor_read_block(address, flash_page, page_size) != MonitorResult::ok) {
        oem_print(" - ошибка чтения !");
        print_plain(" \n");
        return false;
    }
    for (std::uint32_t j = 0; j < page_size; ++j) {
        if (file_page[j] == flash_page[j]) continue;
        oem_print(" - ошибка сравнения !");
        print_plain(" \n");
        print_formatted("ADR = %X , DFILE = %X , DFLASH = %X \n", static_cast<unsigned>(address + j),
                    static_cast<unsigned>(file_page[j]), static_cast<unsigned>(flash_page[j]));
        return false;
    }
    return true;
}

bool verify_pass(std::istream& image, std::int16_t page_limit) {
    std::int16_t page = 0;
    do {
        if (!read_file_page(image, file_page)) return false;
        if (!verify_page(flash_base + static_cast<std::uint32_t>(page) * page_size)) return false;
    } while (next_page(image, RunPass::compare, page_limit, page));
    return true;
}

// Clear first: a stream with its fail flag set does not move.
void rewind(std::istream& image) {
    image.clear();
    image.seekg(0);
}

// The run up to the final box; false after the failing step's own lines.
bool program_flash(std::istream& image, std::int16_t page_limit) {
    if (prepare_flash_applet() != JobResult::ok || unlock_and_erase_all() != JobResult::ok || !write_pass(image, page_limit))
        return false;
    rewind(image);
    print_plain(" OK \n");
    oem_print("     Сравнение ");
    if (!verify_pass(image, page_limit)) return false;
    print_plain(" OK \n");
    return lock_all_regions() == JobResult::ok && set_boot_from_flash() == JobResult::ok;
}

}  // namespace

bool image_is_usable(std::istream& image) {
    image.ignore(static_cast<std::streamsize>(max_pages) * page_size);
    const bool holds_bytes = image.gcount() > 0;
    const bool read_through = !read_failed(image);
    rewind(image);
    return holds_bytes && read_through && !image.fail();
}

void run_programming(std::istream& image) { run_programming(image, max_pages); }

void run_programming(std::istream& image, std::int16_t page_limit) {
    if (!program_flash(image, std::min(page_limit, max_pages))) {
        box_error_11();
        return;
    }
    print_switch_off_banner("    *       Программирование выполнено !      *");
    box_write_done();
}
