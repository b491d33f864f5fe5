#include "flash/applet_jobs.h"

#include "flash/applet_image.h"
#include "flash/flash_controller.h"
#include "link/monitor.h"
#include "link/serial.h"
#include "ui/messages.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr std::uint32_t mailbox_size = 128;
// Mailbox fields, as byte offsets.
constexpr std::uint32_t mailbox_command = 0x00;
constexpr std::uint32_t mailbox_status = 0x04;
constexpr std::uint32_t mailbox_argument_0 = 0x08;
constexpr std::uint32_t mailbox_argument_1 = 0x0C;
constexpr std::uint32_t mailbox_argument_2 = 0x10;
constexpr std::uint32_t mailbox_buffer_address = 0x0C;
constexpr std::uint32_t mailbox_region_count = 0x16;

constexpr std::uint32_t boot_from_flash_bit = 2;
// The no-completion code of a mailbox read back without the applet's mark.
constexpr int completion_mark_missing = 3;

unsigned char mailbox_out[mailbox_size];
unsigned char mailbox_in[mailbox_size];
std::uint32_t applet_buffer_address;
std::uint16_t lock_region_count;
unsigned char dummy[3];

// The target is little-endian whatever the host is.
void put_word(std::uint32_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) mailbox_out[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t word_at(const unsigned char* mailbox, std::uint32_t offset) {
    return mailbox[offset] | mailbox[offset + 1] << 8 | mailbox[offset + 2] << 16 |
           static_cast<std::uint32_t>(mailbox[offset + 3]) << 24;
}

std::uint32_t incoming_word(std::uint32_t offset) { return word_at(mailbox_in, offset); }

// The console lines of one job's mailbox exchange, for each step that can fail.
struct ExchangeTexts {
    const char* not_sent;
    const char* no_completion;
    const char* not_read;
    const char* bad_status;
};

int report(const char* text, int code) {
    oem_print(text);
    std::printf("%d", code);
    std::fputs(" \n", stdout);
    return 1;
}

void print_ok() { std::fputs(" OK \n", stdout); }

// Starts the applet on the command in its mailbox and reads the reply. The
// outgoing copy holds the command the target's mailbox holds, INIT's zero
// included.
int start_applet(const ExchangeTexts& texts) {
    monitor_go(applet_load_address);
    if (const int code = port_read(dummy, 2)) return report(texts.no_completion, code);
    if (const int code = read_mailbox()) return report(texts.not_read, code);
    // The applet complements the command word when it is done with it; a
    // mailbox without that mark was not answered by this command, whatever
    // its status says.
    if (incoming_word(mailbox_command) != ~word_at(mailbox_out, mailbox_command))
        return report(texts.no_completion, completion_mark_missing);
    if (const int status = mailbox_in[mailbox_status]) return report(texts.bad_status, status);
    return 0;
}

// The arguments the applet leaves in the mailbox are those it carried the
// command out with; WRITE puts the bytes written in place of its source. A
// byte spoilt on its way to the target would otherwise pass unseen: a byte
// count of 1280 for the last page writes past the image, where no
// comparison looks.
bool arguments_as_sent() {
    for (const std::uint32_t offset : {mailbox_argument_0, mailbox_argument_1, mailbox_argument_2}) {
        std::uint32_t sent = word_at(mailbox_out, offset);
        if (offset == mailbox_argument_0 && word_at(mailbox_out, mailbox_command) == applet_write)
            sent = word_at(mailbox_out, mailbox_argument_1);
        if (incoming_word(offset) != sent) return false;
    }
    return true;
}

int exchange(const ExchangeTexts& texts) {
    if (const int code = send_mailbox()) return report(texts.not_sent, code);
    if (const int failed = start_applet(texts)) return failed;
    if (!arguments_as_sent()) return report(texts.no_completion, completion_mark_missing);
    return 0;
}

// One command per lock region with the index in argument 0, a dot after every
// fourth; the first region is always sent.
int for_each_region(const ExchangeTexts& texts) {
    std::uint32_t index = 0;
    do {
        put_word(mailbox_argument_0, index);
        if (exchange(texts)) return 1;
        if (++index % 4 == 0) std::fputs(".", stdout);
    } while (index < lock_region_count);
    return 0;
}

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

void print_failure(const char* text) {
    oem_print(text);
    std::fputs(" \n", stdout);
}

// What the device itself shows once the run is done, rather than what the
// applet answered: every region of both banks locked (the chip has 32,
// whatever INIT reported) and the boot bit set.
bool end_state_confirmed() {
    std::uint32_t efc0 = 0;
    std::uint32_t efc1 = 0;
    if (read_flash_status(0, efc0) != 0 || read_flash_status(1, efc1) != 0) {
        print_failure(" - ошибка чтения !");
        return false;
    }
    if ((efc0 & fsr_all_locks) != fsr_all_locks || (efc1 & fsr_all_locks) != fsr_all_locks) {
        print_failure(" - биты защиты не установлены !");
        return false;
    }
    if (!(efc0 & fsr_gpnvm2)) {
        print_failure(" - бит GPNVM2 не установлен !");
        return false;
    }
    return true;
}

}  // namespace

int send_mailbox() { return monitor_send_block(applet_mailbox_address, mailbox_out, mailbox_size); }

int read_mailbox() { return monitor_read_block(applet_mailbox_address, mailbox_in, mailbox_size); }

int upload_applet() {
    if (monitor_send_block_frame(applet_load_address, applet_image_size) != 0) return 1;
    if (port_write(applet_image, applet_image_size) != 0) return 2;
    const int prompt = monitor_read_prompt();
    return prompt == 2 ? 4 : prompt;
}

int prepare_flash_applet() {
    oem_print("     Подготовка данных ... ");
    std::memset(mailbox_out, 0, mailbox_size);
    std::memset(mailbox_in, 0, mailbox_size);
    if (const int code = set_flash_modes()) return report(" ошибка EFC ", code);
    if (const int code = upload_applet()) return report(" ошибка ", code);
    if (start_applet(init_texts)) return 1;
    applet_buffer_address = incoming_word(mailbox_buffer_address);
    lock_region_count = static_cast<std::uint16_t>(mailbox_in[mailbox_region_count] |
                                                   mailbox_in[mailbox_region_count + 1] << 8);
    print_ok();
    return 0;
}

int unlock_and_erase_all() {
    oem_print("     Очистка памяти ");
    put_word(mailbox_command, applet_unlock);
    if (for_each_region(unlock_texts)) return 1;
    put_word(mailbox_command, applet_erase_all);
    put_word(mailbox_argument_0, 0);
    if (exchange(erase_texts)) return 1;
    print_ok();
    return 0;
}

int write_flash_page(std::uint32_t offset) {
    if (const int code = monitor_send_page(applet_buffer_address))
        return report(" - ошибка передачи данных ", code);
    put_word(mailbox_command, applet_write);
    put_word(mailbox_argument_0, applet_buffer_address);
    put_word(mailbox_argument_1, page_size);
    put_word(mailbox_argument_2, offset);
    return exchange(write_texts);
}

int lock_all_regions() {
    std::memset(mailbox_out, 0, mailbox_size);
    oem_print("     Включение битов защиты ");
    put_word(mailbox_command, applet_lock);
    if (for_each_region(lock_texts)) return 1;
    print_ok();
    return 0;
}

int set_boot_from_flash() {
    std::memset(mailbox_out, 0, mailbox_size);
    oem_print("     Установка GPNVM2 ... ");
    put_word(mailbox_command, applet_gpnvm);
    put_word(mailbox_argument_0, 1);
    put_word(mailbox_argument_1, boot_from_flash_bit);
    if (exchange(boot_texts)) return 1;
    if (!end_state_confirmed()) return 1;
    print_ok();
    print_switch_off_banner("    *       Программирование выполнено !      *");
    return 0;
}
