#include "app/update_driver.h"

#include "app/device_search.h"
#include "app/device_stage.h"
#include "app/messages.h"
#include "app/programming_run.h"
#include "files/input_file.h"
#include "link/serial.h"
#include "ui/name_encoding.h"

#include <istream>

namespace {

constexpr const char* job_file_name = "f_write.txt";
// The job line, terminator included, that the job file may hold.
constexpr std::streamsize job_line_limit = 100;

// Opens the image as always; only a name that does not open is taken as the
// UTF-8 an editor may have written, its byte-order mark dropped, or else as
// Windows-1251, which older editors wrote whatever the PC's code page.
// `encoding` receives how the name was taken, or would most likely have been.
std::unique_ptr<std::streambuf> open_firmware(const char* raw, NameEncoding& encoding) {
    encoding = NameEncoding::as_read;
    if (OpenedFile file = open_regular_file(raw, NameEncoding::as_read); file.buffer) return std::move(file.buffer);
    encoding = likely_name_encoding(raw);
    const char* rest = without_byte_order_mark(raw);
    const TextKind kind = text_kind(rest);
    if (kind == TextKind::utf8 || (kind == TextKind::ascii && rest != raw))
        return open_regular_file(rest, NameEncoding::utf8).buffer;
    if (kind != TextKind::other || rest != raw) return nullptr;
    OpenedFile file = open_regular_file(raw, NameEncoding::cp1251);
    if (file.buffer) encoding = NameEncoding::cp1251;
    return std::move(file.buffer);
}

}  // namespace

void run_update() {
    print_plain("\n");
    oem_print("  ***  Обновление встроенного ПО майндмашины 'ЗЕЛМИРАН'  *** ( V1.0 a-test) \n");
    print_plain("\n");

    const auto job_buffer = open_regular_file(job_file_name, NameEncoding::as_read).buffer;
    if (!job_buffer) {
        box_error_1();
        return;
    }
    std::istream job_file(job_buffer.get());
    char file_name[job_line_limit + 1] = {};
    job_file.getline(file_name, job_line_limit);
    // A job file that opens but cannot be read is as missing as one that
    // does not open.
    if (job_file.bad()) {
        box_error_1();
        return;
    }
    if (!job_file.eof()) {
        box_error_2();
        return;
    }

    oem_print("1. Определение загружаемого файла  ");
    print_plain("\n");
    // Opening is silent, so it comes first: the echo shows the name as it
    // was taken.
    NameEncoding encoding;
    const auto firmware_buffer = open_firmware(file_name, encoding);
    oem_print("   Имя файла новой программы : ");
    print_file_name(file_name, encoding);
    print_plain(" \n");
    print_plain(" \n");

    std::istream firmware(firmware_buffer.get());
    if (!firmware_buffer || !image_is_usable(firmware)) {
        box_error_3();
        return;
    }

    print_plain(" \n");
    oem_print("2. Поиск устройства ... \n ");
    print_plain("   ");
    if (find_device_port() != PortSearch::found) {
        print_plain(" \n");
        box_error_4();
    } else {
        run_device_stage(firmware);
    }

    close_port();
}
