#include "app/update_driver.h"

#include "app/device_stage.h"
#include "link/serial.h"
#include "ui/messages.h"

#include "app/programming_run.h"

#include <fstream>

namespace {

constexpr const char* job_file_name = "f_write.txt";
// The job line, terminator included, that the job file may hold.
constexpr std::streamsize job_line_limit = 100;

// A folder opens as a stream on some systems; its reads fail, so it is
// refused here, not programmed.
bool open_firmware(std::ifstream& image, const char* file_name) {
    image.open(file_name, std::ios::binary);
    return image.is_open() && image_reads_through(image);
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
    oem_print("   Имя файла новой программы : ");
    print_plain(file_name);
    print_plain(" \n");
    print_plain(" \n");

    std::ifstream firmware;
    if (!open_firmware(firmware, file_name)) {
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
