#include "app/update_driver.h"

#include "app/device_stage.h"
#include "link/serial.h"
#include "ui/messages.h"

#include <cstdio>
#include <filesystem>

std::ifstream firmware_stream;

namespace {

constexpr const char* job_file_name = "f_write.txt";
// The job line, terminator included, that the job file may hold.
constexpr std::streamsize job_line_limit = 100;

// A folder opens as a stream on some systems but is no image to program.
bool open_firmware(const char* file_name) {
    std::error_code ignored;
    if (std::filesystem::is_directory(file_name, ignored)) return false;
    firmware_stream.open(file_name, std::ios::binary);
    return firmware_stream.is_open();
}

}  // namespace

void run_update() {
    std::fputs("\n", stdout);
    oem_print("  ***  Обновление встроенного ПО майндмашины 'ЗЕЛМИРАН'  *** ( V1.0 a-test) \n");
    std::fputs("\n", stdout);

    std::ifstream fp2(job_file_name, std::ios::binary);
    if (!fp2.is_open()) {
        box_error_1();
        return;
    }
    char file_name[job_line_limit + 1] = {};
    fp2.getline(file_name, job_line_limit);
    if (!fp2.eof()) {
        box_error_2();
        return;
    }

    oem_print("1. Определение загружаемого файла  ");
    std::fputs("\n", stdout);
    oem_print("   Имя файла новой программы : ");
    std::fputs(file_name, stdout);
    std::fputs(" \n", stdout);
    std::fputs(" \n", stdout);

    if (!open_firmware(file_name)) {
        box_error_3();
        return;
    }

    std::fputs(" \n", stdout);
    oem_print("2. Поиск устройства ... \n ");
    std::fputs("   ", stdout);
    if (find_device_port() != 0) {
        std::fputs(" \n", stdout);
        box_error_4();
    } else {
        run_device_stage();
    }

    close_port();
    firmware_stream.close();
}
