#include "app/device_stage.h"

#include "app/messages.h"
#include "app/programming_run.h"
#include "device/connection.h"
#include "device/programming.h"

namespace {

void report_check_failure(const char* reason) {
    oem_print(" Ошибка !");
    print_plain(" \n");
    oem_print(reason);
    print_plain(" \n");
    box_error_5();
}

bool controller_checked() {
    const ControllerOutcome checked = check_controller();
    switch (checked.outcome.cause) {
    case Cause::none: break;
    case Cause::wrong_controller:
        report_check_failure("   Неверный код контроллера ! ");
        return false;
    default:
        report_check_failure("   Возможно на компьютере неинтеловский чипсет !!! ");
        return false;
    }
    print_plain(" OK \n");
    return true;
}

void offer_cancel_of_programming_mode() {
    if (ask_cancel_mode() != answer_yes) return;
    if (cancel_programming().ok()) {
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
