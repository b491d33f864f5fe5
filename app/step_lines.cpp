#include "app/step_lines.h"

#include "app/messages.h"

namespace {

// The lines of one applet job's mailbox exchange, for each part that can fail.
struct ExchangeTexts {
    const char* not_sent;
    const char* no_completion;
    const char* not_read;
    const char* bad_status;
};

const ExchangeTexts init_texts = {"", " не найдена точка входа ", " не читается mailbox ",
                                  " неверный код статуса "};
const ExchangeTexts unlock_texts = {" - ошибка передачи mailbox_clb ", " - нет выполнения команд CLB  ",
                                    " - не читается mailbox_clb ", " - неверный код статуса CLB "};
const ExchangeTexts erase_texts = {" - ошибка передачи mailbox_ea ", " нет выполнения команды EA ",
                                   " не читается mailbox_ea ", " неверный код статуса EA "};
const ExchangeTexts write_texts = {" - ошибка передачи mailbox_wr ", " нет выполнения команды WR ",
                                   " не читается mailbox_wr ", " неверный код статуса WR "};
const ExchangeTexts lock_texts = {" - ошибка передачи mailbox_slb ", " - нет выполнения команд SLB  ",
                                  " - не читается mailbox_slb ", " - неверный код статуса SLB "};
const ExchangeTexts boot_texts = {" - ошибка передачи mailbox_gpsb ", " - нет выполнения команд GPSB  ",
                                  " - не читается mailbox_gpsb ", " - неверный код статуса GPSB "};

const ExchangeTexts& exchange_texts(Step step) {
    switch (step) {
    case Step::unlock: return unlock_texts;
    case Step::erase: return erase_texts;
    case Step::write: return write_texts;
    case Step::lock: return lock_texts;
    case Step::boot_bit:
    case Step::boot_bit_clear: return boot_texts;
    default: return init_texts;
    }
}

void line(const char* text) {
    oem_print(text);
    print_plain(" \n");
}

void line_with_code(const char* text, int code) {
    oem_print(text);
    print_formatted("%d", code);
    print_plain(" \n");
}

// The exchange's part that failed, or null when the cause is no exchange's.
const char* exchange_line(const Outcome& outcome) {
    const ExchangeTexts& texts = exchange_texts(outcome.step);
    switch (outcome.cause) {
    case Cause::mailbox_not_sent: return texts.not_sent;
    case Cause::start_not_sent:
    case Cause::no_completion:
    case Cause::completion_mark_missing:
    case Cause::arguments_changed:
    case Cause::boot_bit_not_cleared: return texts.no_completion;
    case Cause::mailbox_not_read: return texts.not_read;
    case Cause::command_refused: return texts.bad_status;
    default: return nullptr;
    }
}

}  // namespace

void StepLines::started(Step step, int) {
    switch (step) {
    case Step::applet: oem_print("     Подготовка данных ... "); break;
    case Step::unlock: oem_print("     Очистка памяти "); break;
    case Step::write: oem_print("     Программирование "); break;
    case Step::compare: oem_print("     Сравнение "); break;
    case Step::lock: oem_print("     Включение битов защиты "); break;
    case Step::boot_bit: oem_print("     Установка GPNVM2 ... "); break;
    default: break;
    }
}

void StepLines::advanced(Step step, int units_done) {
    const bool by_region = step == Step::unlock || step == Step::lock;
    if (units_done % (by_region ? 4 : 32) == 0) print_plain(".");
}

void StepLines::finished(Step step) {
    // The unlocks and the erase share one line.
    if (step != Step::unlock) print_plain(" OK \n");
}

void show_step_failure(const Outcome& outcome) {
    if (outcome.cause == Cause::start_not_sent) box_error_4();
    if (const char* text = exchange_line(outcome)) return line_with_code(text, outcome.code);
    switch (outcome.cause) {
    case Cause::registers_not_written: return line_with_code(" ошибка EFC ", outcome.code);
    case Cause::applet_not_uploaded: return line_with_code(" ошибка ", outcome.code);
    case Cause::buffer_outside_sram:
        oem_print(" - неверный адрес буфера ");
        print_formatted("%X", static_cast<unsigned>(outcome.address));
        print_plain(" \n");
        return;
    case Cause::page_not_sent: return line_with_code(" - ошибка передачи данных ", outcome.code);
    case Cause::image_unreadable: return line(" - ошибка чтения файла !");
    case Cause::page_not_read:
    case Cause::status_unreadable: return line(" - ошибка чтения !");
    case Cause::mismatch:
        line(" - ошибка сравнения !");
        print_formatted("ADR = %X , DFILE = %X , DFLASH = %X \n", static_cast<unsigned>(outcome.address),
                        outcome.image_byte, outcome.flash_byte);
        return;
    case Cause::locks_not_set: return line(" - биты защиты не установлены !");
    case Cause::boot_bit_not_set: return line(" - бит GPNVM2 не установлен !");
    default: return;
    }
}
