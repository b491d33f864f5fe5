#include "app/update_driver.h"

#include "app/device_stage.h"
#include "app/input_file.h"
#include "app/programming_run.h"
#include "link/serial.h"
#include "ui/messages.h"

#include <istream>

namespace {

constexpr const char* job_file_name = "f_write.txt";
// The job line, terminator included, that the job file may hold.
constexpr std::streamsize job_line_limit = 100;

}  // namespace

void run_update() {
    print_plain("\n");
    oem_print("  ***  Обновление встроенного ПО майндмашины 'ЗЕЛМИРАН'  *** ( V1.0 a-test) \n");
    print_plain("\n");

    const auto job_buffer = open_input_file(job_file_name);
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
    oem_print("   Имя файла новой программы : ");
    print_plain(file_name);
    print_plain(" \n");
    print_plain(" \n");

    const auto firmware_buffer = open_input_file(file_name);
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
