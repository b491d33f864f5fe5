#include "flash/applet_jobs.h"

#include "applet/mailbox.h"
#include "flash/applet_image.h"
#include "flash/flash_controller.h"
#include "link/monitor.h"
#include "link/serial.h"
#include "ui/messages.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr std::uint32_t boot_from_flash_bit = 2;
// The no-completion number of a mailbox read back without the applet's mark.
constexpr int completion_mark_missing = 3;

unsigned char mailbox_out[MAILBOX_SIZE];
unsigned char mailbox_in[MAILBOX_SIZE];
// What the applet's INIT reported.
std::uint32_t applet_buffer_address;
std::uint16_t lock_region_count;

enum class [[nodiscard]] UploadResult : int {
    ok = 0, frame_not_sent = 1, image_not_sent = 2, no_prompt = 3, reply_not_read = 4
};

// The target is little-endian whatever the host is.
void put_word(std::uint32_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) mailbox_out[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t word_at(const unsigned char* mailbox, std::uint32_t offset) {
    return mailbox[offset] | mailbox[offset + 1] << 8 | mailbox[offset + 2] << 16 |
           static_cast<std::uint32_t>(mailbox[offset + 3]) << 24;
}

// The console lines of one job's mailbox exchange, for each step that can fail.
struct ExchangeTexts {
    const char* not_sent;
    const char* no_completion;
    const char* not_read;
    const char* bad_status;
};

// A job's error line: its text, then the failing step's code or status.
template <typename Code>
JobResult report(const char* text, Code code) {
    oem_print(text);
    print_formatted("%d", static_cast<int>(code));
    print_plain(" \n");
    return JobResult::failed;
}

void print_ok() { print_plain(" OK \n"); }

UploadResult upload_applet() {
    const auto image = applet_image();
    const auto size = static_cast<std::uint32_t>(image.size());
    if (monitor_send_block_frame(APPLET_LOAD_ADDRESS, size) != MonitorResult::ok) return UploadResult::frame_not_sent;
    if (port_write(image.data(), size) != PortWrite::written) return UploadResult::image_not_sent;
    switch (monitor_read_prompt()) {
    case MonitorResult::ok: return UploadResult::ok;
    case MonitorResult::no_prompt: return UploadResult::no_prompt;
    default: return UploadResult::reply_not_read;
    }
}

// Starts the applet on the command in its mailbox and reads the reply. The
// outgoing copy holds the command the target's mailbox holds, INIT's zero
// included.
JobResult start_applet(const ExchangeTexts& texts) {
    // A start that was not sent has closed the port. The reply is read all
    // the same, as operators know it: the read shows the no-device box and
    // fails, and the job's no-completion line follows.
    static_cast<void>(monitor_go(APPLET_LOAD_ADDRESS));
    unsigned char monitor_back[2];
    if (const PortRead code = port_read(monitor_back, sizeof monitor_back); code != PortRead::complete)
        return report(texts.no_completion, code);
    if (const MonitorResult code = monitor_read_block(MAILBOX_ADDRESS, mailbox_in, MAILBOX_SIZE);
        code != MonitorResult::ok)
        return report(texts.not_read, code);
    // The applet complements the command word when it is done with it; a
    // mailbox without that mark was not answered by this command, whatever
    // its status says.
    if (word_at(mailbox_in, MAILBOX_COMMAND) != ~word_at(mailbox_out, MAILBOX_COMMAND))
        return report(texts.no_completion, completion_mark_missing);
    if (const int status = mailbox_in[MAILBOX_STATUS]) return report(texts.bad_status, status);
    return JobResult::ok;
}

// The arguments the applet leaves in the mailbox are those it carried the
// command out with; WRITE puts the bytes written in place of its source. A
// byte spoilt on its way to the target would otherwise pass unseen: a byte
// count of 1280 for the last page writes past the image, where no
// comparison looks.
bool arguments_as_sent() {
    for (const std::uint32_t offset : {MAILBOX_ARGUMENT_0, MAILBOX_ARGUMENT_1, MAILBOX_ARGUMENT_2}) {
        std::uint32_t sent = word_at(mailbox_out, offset);
        if (offset == MAILBOX_ARGUMENT_0 && word_at(mailbox_out, MAILBOX_COMMAND) == COMMAND_WRITE)
            sent = word_at(mailbox_out, MAILBOX_ARGUMENT_1);
        if (word_at(mailbox_in, offset) != sent) return false;
    }
    return true;
}

JobResult exchange(const ExchangeTexts& texts) {
    if (const MonitorResult code = monitor_send_block(MAILBOX_ADDRESS, mailbox_out, MAILBOX_SIZE);
        code != MonitorResult::ok)
        return report(texts.not_sent, code);
    if (start_applet(texts) != JobResult::ok) return JobResult::failed;
    if (!arguments_as_sent()) return report(texts.no_completion, completion_mark_missing);
    return JobResult::ok;
}

// One command per lock region with the index in argument 0, each reported to
// the dialogue; the first region is always sent.
JobResult for_each_region(const ExchangeTexts& texts, RunPass pass) {
    std::uint32_t index = 0;
    do {
        put_word(MAILBOX_ARGUMENT_0, index);
        if (exchange(texts) != JobResult::ok) return JobResult::failed;
        show_page_done(pass, static_cast<int>(++index));
    } while (index < lock_region_count);
    return JobResult::ok;
}

JobResult report(const char* text) {
    oem_print(text);
    print_plain(" \n");
    return JobResult::failed;
}

// What the device itself shows once the run is done, rather than what the
// applet answered: every region of both banks locked (the chip has 32,
// whatever INIT reported) and the boot bit set.
JobResult confirm_end_state() {
    std::uint32_t efc0 = 0;
    std::uint32_t efc1 = 0;
    if (read_flash_status(0, efc0) != FlashResult::ok || read_flash_status(1, efc1) != FlashResult::ok)
        return report(" - ошибка чтения !");
    if ((efc0 & fsr_all_locks) != fsr_all_locks || (efc1 & fsr_all_locks) != fsr_all_locks)
        return report(" - биты защиты не установлены !");
    if (!(efc0 & fsr_gpnvm2)) return report(" - бит GPNVM2 не установлен !");
    return JobResult::ok;
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

// Pages go where INIT says; a damaged or foreign reply must not send them
// over the applet, into registers, flash or ROM. The whole page must lie in
// SRAM after the applet image.
bool buffer_fits(std::uint32_t address) {
    constexpr std::uint32_t sram_end = 0x00208000;
    return address >= APPLET_LOAD_ADDRESS + applet_image().size() && address <= sram_end - page_size;
}

}  // namespace

JobResult prepare_flash_applet() {
    oem_print("     Подготовка данных ... ");
    std::memset(mailbox_out, 0, MAILBOX_SIZE);
    std::memset(mailbox_in, 0, MAILBOX_SIZE);
    if (const FlashResult code = set_flash_modes(); code != FlashResult::ok) return report(" ошибка EFC ", code);
    if (const UploadResult code = upload_applet(); code != UploadResult::ok) return report(" ошибка ", code);
    // The freshly uploaded image carries INIT in its own mailbox.
    if (start_applet(init_texts) != JobResult::ok) return JobResult::failed;
    applet_buffer_address = word_at(mailbox_in, MAILBOX_BUFFER_ADDRESS);
    if (!buffer_fits(applet_buffer_address)) {
        oem_print(" - неверный адрес буфера ");
        print_formatted("%X", static_cast<unsigned>(applet_buffer_address));
        print_plain(" \n");
        return JobResult::failed;
    }
    lock_region_count = static_cast<std::uint16_t>(mailbox_in[MAILBOX_LOCK_REGION_COUNT] |
                                                   mailbox_in[MAILBOX_LOCK_REGION_COUNT + 1] << 8);
    print_ok();
    return JobResult::ok;
}

JobResult unlock_and_erase_all() {
    oem_print("     Очистка памяти ");
    put_word(MAILBOX_COMMAND, COMMAND_UNLOCK);
    if (for_each_region(unlock_texts, RunPass::erase) != JobResult::ok) return JobResult::failed;
    put_word(MAILBOX_COMMAND, COMMAND_ERASE_ALL);
    put_word(MAILBOX_ARGUMENT_0, 0);
    if (exchange(erase_texts) != JobResult::ok) return JobResult::failed;
    print_ok();
    return JobResult::ok;
}

JobResult write_flash_page(std::uint32_t offset, const unsigned char* page) {
    if (const MonitorResult code = monitor_send_block(applet_buffer_address, page, page_size);
        code != MonitorResult::ok)
        return report(" - ошибка передачи данных ", code);
    put_word(MAILBOX_COMMAND, COMMAND_WRITE);
    put_word(MAILBOX_ARGUMENT_0, applet_buffer_address);
    put_word(MAILBOX_ARGUMENT_1, page_size);
    put_word(MAILBOX_ARGUMENT_2, offset);
    return exchange(write_texts);
}

JobResult lock_all_regions() {
    std::memset(mailbox_out, 0, MAILBOX_SIZE);
    oem_print("     Включение битов защиты ");
    put_word(MAILBOX_COMMAND, COMMAND_LOCK);
    if (for_each_region(lock_texts, RunPass::lock) != JobResult::ok) return JobResult::failed;
    print_ok();
    return JobResult::ok;
}

JobResult set_boot_from_flash() {
    std::memset(mailbox_out, 0, MAILBOX_SIZE);
    oem_print("     Установка GPNVM2 ... ");
    put_word(MAILBOX_COMMAND, COMMAND_GPNVM);
    put_word(MAILBOX_ARGUMENT_0, 1);
    put_word(MAILBOX_ARGUMENT_1, boot_from_flash_bit);
    if (exchange(boot_texts) != JobResult::ok || confirm_end_state() != JobResult::ok) return JobResult::failed;
    print_ok();
    return JobResult::ok;
}
