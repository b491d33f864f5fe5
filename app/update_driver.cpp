#include "app/update_driver.h"

#include "app/device_stage.h"
#include "app/image_name.h"
#include "app/programming_run.h"
#include "link/serial.h"
#include "ui/messages.h"
#include "ui/name_encoding.h"

#include <fstream>

namespace {

constexpr const char* job_file_name = "f_write.txt";
// The job line, terminator included, that the job file may hold.
constexpr std::streamsize job_line_limit = 100;

// Opens the image as today; only a name that does not open is taken as the
// UTF-8 an editor may have written, its byte-order mark dropped. `encoding`
// receives how the name was taken, or would most likely have been.
bool open_firmware(std::ifstream& image, const char* raw, NameEncoding& encoding) {
    encoding = NameEncoding::as_read;
    image.open(raw, std::ios::binary);
    if (!image.is_open()) {
        image.clear();
        encoding = likely_name_encoding(raw);
        const char* rest = without_byte_order_mark(raw);
        const TextKind kind = text_kind(rest);
        const bool another_name = kind == TextKind::utf8 || (kind == TextKind::ascii && rest != raw);
        if (!another_name || !open_by_utf8_name(image, rest)) return false;
    }
    // A folder opens as a stream on some systems; its reads fail, so it is
    // refused here, not programmed.
    return image_reads_through(image);
}

}  // namespace

void run_update() {
    print_plain("\n");
    oem_print("  ***  Обновление встроенного ПО майндмашины 'ЗЕЛМИРАН'  *** ( V1.0 a-test) \n");
    print_plain("\n");

    std::ifstream job_file(job_file_name, std::ios::binary);
    if (!job_file.is_open()) {
        box_error_1();
        return;
    }
    char file_name[job_line_limit + 1] = {};
    job_file.getline(file_name, job_line_limit);
    // A folder of that name opens on POSIX systems but cannot be read: it is
    // as missing as on Windows, where it does not open.
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
    // Opening is silent, so it may come first: the echo shows the name as
    // it was taken.
    std::ifstream firmware;
    NameEncoding encoding;
    const bool opened = open_firmware(firmware, file_name, encoding);
    oem_print("   Имя файла новой программы : ");
    print_file_name(file_name, encoding);
    print_plain(" \n");
    print_plain(" \n");
    if (!opened) {
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
    firmware.close();
}
