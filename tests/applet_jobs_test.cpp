// The host side of the applet protocol against a scripted monitor: what the
// jobs send, and the line and number each failing step prints.
#include "app/step_lines.h"
#include "device/applet_jobs.h"
#include "flash/applet_image.h"
#include "support/open_port.h"

#include <cstdio>
#include <cstring>

namespace {

const std::string prompt = "\n\r>";
const std::string back_from_go = "\n\r";
constexpr std::uint32_t buffer_address = 0x00202AF4;

std::string word(std::uint32_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(value >> shift));
    return bytes;
}

// The monitor's answer to a 128-byte mailbox read.
std::string mailbox_reply(std::uint32_t command_word, std::uint32_t status, std::uint32_t argument_1 = 0,
                          std::uint16_t region_count = 0, std::uint32_t argument_0 = 0, std::uint32_t argument_2 = 0) {
    std::string mailbox =
        word(command_word) + word(status) + word(argument_0) + word(argument_1) + word(argument_2) + word(0);
    mailbox[0x16] = static_cast<char>(region_count);
    mailbox[0x17] = static_cast<char>(region_count >> 8);
    mailbox.resize(128, '\0');
    return "\n\r" + mailbox + ">";
}

// The monitor's answer to a flash status read.
std::string status_reply(std::uint32_t status) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(status));
    return std::string("\n\r0x") + digits + "\n\r>";
}

std::string init_reply(std::uint16_t region_count) { return mailbox_reply(0xFFFFFFFF, 0, buffer_address, region_count); }

// Everything prepare_flash_applet waits for, up to the INIT reply.
const std::string until_init = prompt + prompt + prompt + back_from_go;

using Job = Outcome (*)(StepObserver&);

class AppletJobs : public OpenPort {
protected:
    // What the job shows on the operator's console.
    std::string shown(Job job) {
        StdoutCapture console;
        StepLines lines;
        last_result = job(lines);
        if (!last_result.ok()) show_step_failure(last_result);
        return console.text();
    }
    std::string run_prepare(const std::string& replies) {
        device->send(bytes_of(replies));
        return shown(prepare_flash_applet);
    }
    Outcome last_result;
};

TEST_F(AppletJobs, PrepareUploadsTheImageAndTheNextJobsUseWhatInitReported) {
    EXPECT_EQ(run_prepare(until_init + init_reply(1)), "     Подготовка данных ...  OK \n");
    EXPECT_TRUE(last_result.ok());
    const auto image = applet_image();
    char upload_frame[20];
    std::snprintf(upload_frame, sizeof upload_frame, "S00202000,%08zX#", image.size());
    Bytes expected = bytes_of(std::string("WFFFFFF60,00340200#" "WFFFFFF70,00340200#") + upload_frame);
    expected.insert(expected.end(), image.begin(), image.end());
    const Bytes started = bytes_of("G00202000#" "R00202004,00000080#");
    expected.insert(expected.end(), started.begin(), started.end());
    EXPECT_EQ(device->drain(), expected);

    // A page goes to the reported buffer, then WRITE with it, 1024 bytes and
    // the offset; one region reported means one UNLOCK.
    unsigned char page[1024];
    std::memset(page, 0x5A, sizeof page);
    device->send(bytes_of(prompt + prompt + back_from_go + mailbox_reply(~2u, 0, 1024, 0, 1024, 0x800)));
    StdoutCapture console;
    EXPECT_TRUE(write_flash_page(0x800, page).ok());
    EXPECT_EQ(console.text(), "");
    const Bytes sent = device->drain();
    const Bytes frame = bytes_of("S00202AF4,00000400#");
    ASSERT_GE(sent.size(), frame.size() + 1024 + 19 + 12);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 19), frame);
    const Bytes mailbox(sent.begin() + 19 + 1024 + 19, sent.begin() + 19 + 1024 + 19 + 20);
    EXPECT_EQ(mailbox, bytes_of(word(2) + word(0) + word(buffer_address) + word(1024) + word(0x800)));
}

struct FailingStep {
    const char* what;
    std::string replies;
    std::string line;
};

void PrintTo(const FailingStep& step, std::ostream* out) { *out << step.what; }

class PrepareFailure : public AppletJobs, public testing::WithParamInterface<FailingStep> {};

TEST_P(PrepareFailure, PrintsItsLineAndNumber) {
    EXPECT_EQ(run_prepare(GetParam().replies), "     Подготовка данных ... " + GetParam().line + " \n");
    EXPECT_FALSE(last_result.ok());
}

INSTANTIATE_TEST_SUITE_P(
    Applet, PrepareFailure,
    testing::Values(FailingStep{"modes", "\n\r?", " ошибка EFC 1"},
                    FailingStep{"upload_prompt", prompt + prompt + "\n\r?", " ошибка 3"},
                    FailingStep{"upload_reply", prompt + prompt + "\n\r", " ошибка 4"},
                    FailingStep{"no_return", prompt + prompt + prompt, " не найдена точка входа 2"},
                    FailingStep{"mailbox_prompt", until_init + "\n\r" + std::string(128, '\0') + "?",
                                " не читается mailbox 3"},
                    FailingStep{"no_mark", until_init + mailbox_reply(0, 0, buffer_address, 32),
                                " не найдена точка входа 3"},
                    FailingStep{"status", until_init + mailbox_reply(0xFFFFFFFF, 0x105, buffer_address, 32),
                                " неверный код статуса 5"},
                    // Pages must not go over the applet or outside SRAM.
                    FailingStep{"buffer_in_flash", until_init + mailbox_reply(0xFFFFFFFF, 0, 0x00100000, 32),
                                " - неверный адрес буфера 100000"},
                    FailingStep{"buffer_past_sram", until_init + mailbox_reply(0xFFFFFFFF, 0, 0x00207C01, 32),
                                " - неверный адрес буфера 207C01"}));

TEST_F(AppletJobs, EachJobNamesItsCommandInItsErrorLines) {
    ASSERT_EQ(run_prepare(until_init + init_reply(1)), "     Подготовка данных ...  OK \n");
    device->drain();
    struct Case {
        Job job;
        std::string replies;
        std::string shown;
    };
    // Lock: a reply without the mark; boot bit: a refused status; unlock:
    // a mailbox that is not taken.
    for (const Case& c : {Case{lock_all_regions, prompt + back_from_go + mailbox_reply(4, 0),
                               "     Включение битов защиты  - нет выполнения команд SLB  3 \n"},
                          Case{set_boot_from_flash, prompt + back_from_go + mailbox_reply(~6u, 15),
                               "     Установка GPNVM2 ...  - неверный код статуса GPSB 15 \n"},
                          Case{unlock_and_erase_all, status_reply(0x001) + "\n\r?",
                               "     Очистка памяти  - ошибка передачи mailbox_clb 3 \n"},
                          // A boot bit that the clear before the erase leaves set.
                          Case{unlock_and_erase_all,
                               status_reply(0x401) + prompt + back_from_go + mailbox_reply(~6u, 0, 2) + status_reply(0x401),
                               "     Очистка памяти  - нет выполнения команд GPSB  3 \n"}}) {
        device->send(bytes_of(c.replies));
        EXPECT_EQ(shown(c.job), c.shown);
        EXPECT_FALSE(last_result.ok());
        device->drain();
    }
}

}  // namespace
