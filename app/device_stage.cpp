#include "app/device_stage.h"

#include "app/programming_run.h"
#include "flash/flash_controller.h"
#include "link/monitor.h"
#include "link/serial.h"
#include "ui/messages.h"

#include <cstdint>

namespace {

// The chip identification register and the fields that make an
// AT91SAM7SE512: series, SRAM size and flash size.
constexpr std::uint32_t chip_id_register = 0xFFFFF240;
constexpr std::uint32_t chip_id_mask = 0x0FFF0F00;
constexpr std::uint32_t expected_chip_id = 0x072A0A00;

void report_check_failure(const char* reason) {
    oem_print(" Ошибка !");
    print_plain(" \n");
    oem_print(reason);
    print_plain(" \n");
    box_error_5();
}

bool controller_checked() {
    std::uint32_t chip_id = 0;
    switch (check_controller(chip_id)) {
    case ControllerCheck::ok: break;
    case ControllerCheck::no_answer:
        report_check_failure("   Возможно на компьютере неинтеловский чипсет !!! ");
        return false;
    case ControllerCheck::wrong_controller:
        report_check_failure("   Неверный код контроллера ! ");
        return false;
    }
    print_plain(" OK \n");
    return true;
}

void offer_cancel_of_programming_mode() {
    if (ask_cancel_mode() != answer_yes) return;
    if (set_flash_modes() == FlashResult::ok && cancel_programming_mode() == FlashResult::ok) {
        print_switch_off_banner("    * Возврат к прежней программе произведен! *");
        box_mode_cancelled();
        return;
    }
    print_plain("\n");
    oem_print(" * Программный сбой ! Отмена режима программирования не выполнена ! * ");
    print_plain("\n");
    box_error_7();
}

}  // namespace

ControllerCheck check_controller(std::uint32_t& chip_id) {
    if (read_greeting_prompt() != PortRead::complete ||
        monitor_read_word(chip_id_register, chip_id) != MonitorResult::ok)
        return ControllerCheck::no_answer;
    return (chip_id & chip_id_mask) == expected_chip_id ? ControllerCheck::ok : ControllerCheck::wrong_controller;
}

void run_device_stage(std::istream& image) {
    print_plain(" \n");
    oem_print("   Прибор 'Зелмиран' подключен к компьютеру и готов к программированию \n");
    print_plain(" \n");
    oem_print("3. Проверка возможности программирования ... ");
    if (!controller_checked()) return;

    switch (ask_start_programming()) {
    case answer_yes:
        print_plain(" \n");
        oem_print("4. Запись программы  ");
        print_plain(" \n");
        run_programming(image);
        break;
    case answer_no:
        offer_cancel_of_programming_mode();
        break;
    }
}
