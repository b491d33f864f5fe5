#include "app/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

void show_error(const char* caption, const char* text) {
    show_message_box(caption, text, box_ok | box_icon_error);
}

void show_information(const char* text) {
    show_message_box("ZELMIRAN", text, box_ok | box_icon_information);
}

}  // namespace

void box_error_1() { show_error("Error 1", "          Отсутствует файл 'f_write.txt'          "); }
void box_error_2() { show_error("Error 2", "   Информация в файле 'f_write.txt' некорректна   "); }
void box_error_3() { show_error("Error 3", "         Ошибка открытия файла программы          "); }
void box_error_4() { show_error("Error 4", "Устройство не подключено или драйвер не установлен"); }
void box_error_5() { show_error("Error 5", "  ***    ПРОГРАММА РАБОТАТЬ НЕ БУДЕТ !     ***    "); }
void box_error_7() { show_error("Error 7", "  * Ошибка выполнения команды *    "); }
void box_error_11() { show_error("Error 11", "  Ошибка ! Программирование не выполнено ! "); }

void box_mode_cancelled() { show_information("  ---  Режим программирования отменен  ---   "); }
void box_write_done() { show_information("   Запись новой программы в прибор выполнена  "); }

int ask_start_programming() {
    return show_message_box(" Attention ", " Запустить программирование ? ",
                            box_yes_no_cancel | box_icon_warning);
}

int ask_cancel_mode() {
    return show_message_box(" Attention ", " Отменить режим программирования в приборе ? ",
                            box_yes_no | box_icon_warning);
}

void print_formatted(const char* format, ...) {
    // Codes and addresses only: far shorter than this.
    char text[128];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    print_plain(text);
}

void oem_print_with_name(const char* text, const char* name) {
    const char* slot = std::strstr(text, "%s");
    if (!slot) {
        oem_print(text);
        return;
    }
    oem_print(std::string(text, slot).c_str());
    print_plain(name);
    oem_print(slot + 2);
}

void print_switch_off_banner(const char* headline) {
    static const char stars[] = "    *******************************************";
    for (const char* line : {stars, headline, "    * Выключите прибор, отключите USB кабель. *", stars}) {
        print_plain("\n");
        oem_print(line);
    }
    print_plain("\n");
}
