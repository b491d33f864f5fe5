// The real updater against the real virtual device, through a pseudo-terminal,
// answered on standard input as an operator would; the device's state is read
// from its flash file and status report afterwards.
#include "app/device_search.h"
#include "app/programming_run.h"
#include "link/serial.h"
#include "support/console_text.h"
#include "support/run_program.h"
#include "support/sim_device.h"
#include "support/stdout_capture.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <istream>
#include <optional>
#include <streambuf>

namespace {

constexpr std::size_t flash_size = 512 * 1024;

const std::string device_check =
    " \n   Прибор 'Зелмиран' подключен к компьютеру и готов к программированию \n \n"
    "3. Проверка возможности программирования ... ";
const std::string non_intel_line = " Ошибка ! \n   Возможно на компьютере неинтеловский чипсет !!!  \n";
const std::string wrong_controller_line = " Ошибка ! \n   Неверный код контроллера !  \n";
const std::string start_question = "|  Запустить программирование ? ";
const std::string cancel_question = "|  Отменить режим программирования в приборе ? ";
const std::string done_banner =
    "\n    *******************************************\n"
    "    *       Программирование выполнено !      *\n"
    "    * Выключите прибор, отключите USB кабель. *\n"
    "    *******************************************\n";
const std::string returned_banner =
    "\n    *******************************************\n"
    "    * Возврат к прежней программе произведен! *\n"
    "    * Выключите прибор, отключите USB кабель. *\n"
    "    *******************************************\n";
const std::string answered_yes = "Answer [y]es, [n]o or [c]ancel: y\n";
const std::string answered_cancel_yes = "Answer [y]es or [n]o: y\n";
const std::string software_failure_line =
    "\n * Программный сбой ! Отмена режима программирования не выполнена ! * \n";

std::string test_image(std::size_t size) {
    std::string image(size, '\0');
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return image;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class Programming : public testing::Test {
protected:
    // Starts the device on COM2 of the port folder; COM1 does not exist.
    void start_device(std::vector<std::string> options = {}) {
        std::filesystem::create_directories(ports());
        device.emplace(ports(), 2, std::move(options));
    }

    ProgramRun run_updater(const std::string& answers, const std::string& image, const std::string& job = "fw.bin",
                           const std::string& file = "fw.bin") {
        folder.write_file(file, image);
        folder.write_file("f_write.txt", job);
        ProgramOptions options;
        options.folder = folder.path();
        options.environment = {"ZELMIRAN_COM_DIR=" + ports().string()};
        options.input = answers;
        options.limit = std::chrono::seconds(120);
        ProgramRun run = run_program(ZELMIRAN_UPDATE_PATH, options);
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.exit_code, 0);
        return run;
    }

    // What follows the device check's heading.
    static std::string after_check(const ProgramRun& run) {
        const auto at = run.out.find(device_check);
        return at == std::string::npos ? "(no device check) " + run.out : run.out.substr(at + device_check.size());
    }

    std::filesystem::path ports() const { return folder.path() / "ports"; }

    void expect_flash_holds(const std::string& padded_image) {
        const auto flash = device->flash();
        ASSERT_EQ(flash.size(), flash_size);
        EXPECT_TRUE(std::equal(padded_image.begin(), padded_image.end(), flash.begin(),
                               [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
    }

    TempFolder folder;
    std::optional<SimDevice> device;
};

TEST_F(Programming, YesWritesVerifiesLocksAndSetsTheBootBit) {
    start_device();
    const std::string image = test_image(3000);
    const ProgramRun run = run_updater("y\n", image);
    const std::string shown = after_check(run);

    EXPECT_EQ(shown.rfind(" OK \n", 0), 0u) << shown;
    const auto after_answer = shown.find(answered_yes);
    ASSERT_NE(after_answer, std::string::npos) << shown;
    const std::string progress = shown.substr(after_answer + answered_yes.size());
    EXPECT_EQ(progress.rfind(" \n4. Запись программы   \n"
                             "     Подготовка данных ...  OK \n"
                             "     Очистка памяти ........ OK \n"
                             "     Программирование  OK \n"
                             "     Сравнение  OK \n"
                             "     Включение битов защиты ........ OK \n"
                             "     Установка GPNVM2 ...  OK \n" +
                                 done_banner,
                             0),
              0u)
        << progress;
    EXPECT_TRUE(shows_box(progress, "ZELMIRAN"));
    EXPECT_NE(progress.find("Запись новой программы в прибор выполнена"), std::string::npos);

    const auto status = device->status();
    EXPECT_EQ(status_value(status, "lock_bits"), "\"0xFFFFFFFF\"");
    EXPECT_EQ(status_value(status, "gpnvm"), "[0, 0, 1]");
    EXPECT_EQ(device->count("monitor.G"), 1u + 32 + 1 + 3 + 32 + 1);
    // The identification, the boot bit looked at before the erase, then both
    // flash status registers before the box.
    EXPECT_EQ(device->count("monitor.w"), 4u);
    // The third page holds the file's last 952 bytes, then zeros; the rest
    // of bank 0 is erased.
    std::string expected = image + std::string(72, '\0');
    expect_flash_holds(expected + std::string(0x40000 - expected.size(), '\xFF'));
}

TEST_F(Programming, ImageSizesDecideThePagesWritten) {
    struct Case {
        std::size_t file_size;
        std::size_t pages;
        int dots;
    };
    bool programmed_before = false;
    for (const Case& c : {Case{1, 1, 0}, Case{2048, 3, 0}, Case{flash_size, 512, 16},
                          Case{flash_size + 5000, 512, 16}}) {
        SCOPED_TRACE(c.file_size);
        start_device();
        const std::string image = test_image(c.file_size);
        const ProgramRun run = run_updater("y\n", image);
        const std::string dots(c.dots, '.');
        EXPECT_NE(run.out.find("     Программирование " + dots + " OK \n     Сравнение " + dots + " OK \n"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(device->count("efc0.WP") + device->count("efc1.WP"), 2 * 4 * c.pages);
        // Mailbox reads of every command, and the verify pass's page reads; a
        // device programmed before shows the boot bit, which is cleared first.
        EXPECT_EQ(device->count("monitor.R"), 1 + programmed_before + 32 + 1 + 2 * c.pages + 32 + 1);
        programmed_before = true;
        std::string padded = image.substr(0, std::min(image.size(), flash_size));
        padded.resize(c.pages * 1024, '\0');
        expect_flash_holds(padded);
        device.reset();
    }
}

// Job files as editors save them: UTF-8, with a byte-order mark, Windows-1251
// (naming a file of those bytes). Each programs; the echo reads in UTF-8.
TEST_F(Programming, JobFileInUtf8WithOrWithoutMarkOrInWindows1251Programs) {
    const std::string utf8 = "прошивка.bin", cp1251 = "\xEF\xF0\xEE\xF8\xE8\xE2\xEA\xE0.bin";
    std::size_t pages = 1;
    for (const auto& [job, file] : {std::pair{utf8, utf8}, {"\xEF\xBB\xBF" + utf8, utf8}, {cp1251, cp1251}}) {
        start_device();
        const std::string image = test_image(1024 * ++pages);
        const ProgramRun run = run_updater("y\n", image, job, file);
        EXPECT_NE(run.out.find(" : прошивка.bin \n"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(done_banner), std::string::npos) << run.out;
        expect_flash_holds(image);
        device.reset();
        std::filesystem::remove(folder.path() / file);
    }
}

TEST_F(Programming, CancelOrNoThenNoSendsNothingMore) {
    for (const std::string answers : {"c\n", "", "n\nn\n", "n\n"}) {
        SCOPED_TRACE(answers);
        start_device();
        const ProgramRun run = run_updater(answers, test_image(100));
        EXPECT_EQ(occurrences(run.out, start_question), 1u);
        EXPECT_EQ(occurrences(run.out, cancel_question), answers.rfind("n", 0) == 0 ? 1u : 0u);
        const auto status = device->status();
        EXPECT_EQ(status_value(status, "link.frames_in"), "2");  // greeting and chip identification
        EXPECT_EQ(status_value(status, "monitor.w"), "1");
        EXPECT_EQ(status_value(status, "gpnvm"), "[0, 0, 0]");
        device.reset();
    }
}

TEST_F(Programming, NoThenYesCancelsProgrammingMode) {
    start_device();
    const ProgramRun run = run_updater("n\ny\n", test_image(100));
    const std::string shown = after_check(run);
    const auto answered = shown.find(answered_cancel_yes);
    ASSERT_NE(answered, std::string::npos) << shown;
    EXPECT_EQ(shown.substr(answered + answered_cancel_yes.size()).rfind(returned_banner, 0), 0u) << shown;
    EXPECT_TRUE(shows_box(shown, "ZELMIRAN"));
    EXPECT_NE(shown.find("---  Режим программирования отменен  ---"), std::string::npos);
    const auto status = device->status();
    EXPECT_EQ(status_value(status, "gpnvm"), "[0, 0, 1]");
    EXPECT_EQ(status_value(status, "monitor.W"), "5");
    EXPECT_EQ(status_value(status, "monitor.w"), "3");
    EXPECT_EQ(status_value(status, "efc0.SGPB"), "1");
    EXPECT_EQ(status_value(status, "monitor.G"), "0");
}

TEST_F(Programming, CancelSucceedsOnlyWhenTheDeviceShowsTheBootBit) {
    // The controller refuses the command; or takes it and leaves the bit clear.
    for (const auto& fault : {std::vector<std::string>{"--fail-command", "0B:1"}, {"--ignore-gpnvm"}}) {
        SCOPED_TRACE(fault.front());
        start_device(fault);
        const ProgramRun run = run_updater("n\ny\n", "x");
        EXPECT_NE(run.out.find(answered_cancel_yes + software_failure_line), std::string::npos) << run.out;
        EXPECT_TRUE(shows_box(run.out, "Error 7"));
        EXPECT_EQ(run.out.find(returned_banner), std::string::npos);
        EXPECT_EQ(status_value(device->status(), "gpnvm"), "[0, 0, 0]");
        device.reset();
    }
}

TEST_F(Programming, ControllerIdentityIsCheckedUnderTheMask) {
    start_device({"--chip-id", "0xF72AFA4F"});  // other version, processor and extension fields
    EXPECT_EQ(after_check(run_updater("c\n", "x")).rfind(" OK \n", 0), 0u);
    device.reset();

    start_device({"--chip-id", "0x272A0940"});  // the 256 KiB member of the family
    const ProgramRun run = run_updater("y\n", "x");
    EXPECT_EQ(after_check(run).rfind(wrong_controller_line, 0), 0u) << run.out;
    EXPECT_TRUE(shows_box(run.out, "Error 5"));
    EXPECT_EQ(occurrences(run.out, start_question), 0u);
}

TEST_F(Programming, MonitorSilentAfterTheGreetingIsError5) {
    start_device({"--greeting", "short"});
    const ProgramRun run = run_updater("y\n", "x");
    EXPECT_EQ(after_check(run).rfind(non_intel_line, 0), 0u) << run.out;
    EXPECT_TRUE(shows_box(run.out, "Error 5"));
    EXPECT_EQ(device->count("monitor.w"), 0u);
}

TEST_F(Programming, ControllerNeverReadyMakesTheCancelError7) {
    start_device({"--fsr-never-ready"});
    const ProgramRun run = run_updater("n\ny\n", "x");
    EXPECT_NE(run.out.find(software_failure_line), std::string::npos) << run.out;
    EXPECT_TRUE(shows_box(run.out, "Error 7"));
    EXPECT_EQ(device->count("monitor.W"), 4u);   // modes twice, protection unit, mode
    EXPECT_EQ(device->count("monitor.w"), 11u);  // identification and ten polls
}

TEST_F(Programming, MismatchIsReportedWithAddressAndBothBytes) {
    start_device({"--corrupt", "0x00100405"});
    const std::string image = test_image(3000);
    const ProgramRun run = run_updater("y\n", image);
    const std::string report = "     Сравнение  - ошибка сравнения ! \nADR = 100405 , DFILE = ";
    const auto at = run.out.find(report);
    ASSERT_NE(at, std::string::npos) << run.out;
    unsigned file_byte = 0, flash_byte = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str() + at + report.size(), "%X , DFLASH = %X \n", &file_byte, &flash_byte), 2);
    EXPECT_EQ(file_byte, static_cast<unsigned char>(image[0x405]));
    EXPECT_NE(flash_byte, file_byte);
    EXPECT_LE(flash_byte, 0xFFu);
    EXPECT_TRUE(shows_box(run.out, "Error 11"));
    EXPECT_EQ(status_value(device->status(), "lock_bits"), "\"0x00000000\"");
}

TEST_F(Programming, DeviceSilentMidWriteEndsTheRunInBoundedTime) {
    // Greeting, identification, two modes, upload, start, mailbox read; the
    // boot bit's status read; 32 unlocks and the erase of three frames each
    // (mailbox, start, read back); the first page's send and exchange. The
    // second page's send meets silence.
    start_device({"--silent-after", "111"});
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun run = run_updater("y\n", test_image(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(shows_box(run.out, "Error 11"));
    EXPECT_NE(run.out.find("     Программирование  - ошибка передачи данных 2 \n"), std::string::npos) << run.out;
    // The command that met silence is the last one the device sees.
    EXPECT_EQ(device->count("link.frames_in"), 112u);
}

// A device that boots its firmware when the run starts must not boot what a
// failed run left half written: it starts its boot monitor instead.
TEST_F(Programming, RunFailingAfterTheEraseLeavesTheBootBitClear) {
    for (const auto& fault : {std::vector<std::string>{"--fail-command", "01:20"}, {"--close-after", "120"}}) {
        SCOPED_TRACE(fault[0]);
        std::filesystem::create_directories(ports());
        folder.write_file("ports/sim2.flash.nvm", "lock_bits 0xFFFFFFFF\ngpnvm 0 0 1\nsecurity 0\n");
        start_device(fault);
        const ProgramRun run = run_updater("y\n", test_image(5000));
        EXPECT_NE(run.out.find("     Очистка памяти ........ OK \n"), std::string::npos) << run.out;
        EXPECT_TRUE(shows_box(run.out, "Error 11"));
        device->stop();
        EXPECT_EQ(status_value(device->status(), "gpnvm"), "[0, 0, 0]");
        device.reset();
    }
}

TEST_F(Programming, RefusedPageWriteEndsTheRunWithTheAppletsStatus) {
    start_device({"--fail-command", "01:11"});  // the second page's third flash page
    const ProgramRun run = run_updater("y\n", test_image(5000));
    EXPECT_NE(run.out.find("     Программирование  неверный код статуса WR 2 \n"), std::string::npos) << run.out;
    EXPECT_TRUE(shows_box(run.out, "Error 11"));
    const auto status = device->status();
    EXPECT_EQ(status_value(status, "monitor.G"), "36");  // start, 32 unlocks, erase, two pages
    EXPECT_EQ(status_value(status, "lock_bits"), "\"0x00000000\"");
    EXPECT_EQ(status_value(status, "gpnvm"), "[0, 0, 0]");
}

TEST_F(Programming, RegionThatCannotBeUnlockedStopsTheRunBeforeTheErase) {
    start_device({"--stuck-lock", "5"});
    const ProgramRun run = run_updater("y\n", test_image(5000));
    EXPECT_NE(run.out.find("     Очистка памяти . - неверный код статуса CLB 5 \n"), std::string::npos) << run.out;
    EXPECT_TRUE(shows_box(run.out, "Error 11"));
    const auto status = device->status();
    EXPECT_EQ(status_value(status, "monitor.G"), "7");  // start and six unlocks
    EXPECT_EQ(status_value(status, "efc0.EA"), "0");
    EXPECT_EQ(status_value(status, "efc0.WP"), "0");
}

}  // namespace

namespace {

TEST_F(Programming, AppletStartWithoutItsCompletionMarkIsNoCompletion) {
    start_device({"--skip-run", "2"});  // the first unlock never runs
    const ProgramRun run = run_updater("y\n", test_image(100));
    EXPECT_NE(run.out.find("     Очистка памяти  - нет выполнения команд CLB  3 \n"), std::string::npos) << run.out;
    EXPECT_TRUE(shows_box(run.out, "Error 11"));
    EXPECT_EQ(device->count("monitor.G"), 2u);
}

TEST_F(Programming, CommandCarriedOutWithOtherArgumentsIsNoCompletion) {
    // The last page's byte count reaches the applet as 1280, not 1024: it
    // would write 256 bytes past the image, where no comparison looks.
    start_device({"--flip-byte", "40:13:01"});  // upload, 33 mailboxes, three pages
    const ProgramRun run = run_updater("y\n", test_image(3000));
    EXPECT_NE(run.out.find("     Программирование  нет выполнения команды WR 3 \n"), std::string::npos) << run.out;
    EXPECT_TRUE(shows_box(run.out, "Error 11"));
    EXPECT_EQ(run.out.find(done_banner), std::string::npos);
}

TEST_F(Programming, EndStateIsReadBackBeforeTheSuccessBox) {
    struct Case {
        std::vector<std::string> fault;
        std::string line;
    };
    for (const Case& c : {Case{{"--ignore-lock", "20"}, " - биты защиты не установлены ! \n"},
                          Case{{"--ignore-gpnvm"}, " - бит GPNVM2 не установлен ! \n"}}) {
        SCOPED_TRACE(c.line);
        std::filesystem::remove_all(ports());  // a device that never held a run's bits
        start_device(c.fault);
        const ProgramRun run = run_updater("y\n", test_image(100));
        EXPECT_NE(run.out.find("     Установка GPNVM2 ... " + c.line), std::string::npos) << run.out;
        EXPECT_TRUE(shows_box(run.out, "Error 11"));
        EXPECT_EQ(run.out.find(done_banner), std::string::npos);
        device.reset();
    }
}

// An image on a disk that fails: `readable` bytes are served, counted over
// every pass, and the next read fails.
class FailingImage : public std::streambuf {
public:
    FailingImage(std::string image, std::size_t readable) : image_(std::move(image)), readable_(readable) {}

protected:
    int_type underflow() override {
        if (next_ >= image_.size()) return traits_type::eof();
        if (served_ == readable_) throw std::ios_base::failure("the disk failed");
        ++served_;
        char* at = image_.data() + next_++;
        setg(at, at, at + 1);
        return traits_type::to_int_type(*at);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode) override {
        next_ = static_cast<std::size_t>(position);
        setg(nullptr, nullptr, nullptr);
        return position;
    }

private:
    std::string image_;
    std::size_t readable_;
    std::size_t next_ = 0;
    std::size_t served_ = 0;
};

TEST_F(Programming, ImageReadFailingInEitherPassEndsTheRun) {
    start_device();
    setenv("ZELMIRAN_COM_DIR", ports().c_str(), 1);
    const std::string image = test_image(5000);
    // In the write pass's third page; in the verify pass's second.
    for (const auto& [readable, heading] :
         {std::pair<std::size_t, std::string>{3000, "     Программирование "}, {5000 + 2000, "     Сравнение "}}) {
        SCOPED_TRACE(heading);
        StdoutCapture console;
        ASSERT_EQ(find_device_port(), PortSearch::found);
        ASSERT_EQ(read_greeting_prompt(), PortRead::complete);
        FailingImage disk(image, readable);
        std::istream stream(&disk);
        run_programming(stream);
        close_port();
        const std::string shown = console.text();
        EXPECT_NE(shown.find(heading + " - ошибка чтения файла ! \n"), std::string::npos) << shown;
        EXPECT_TRUE(shows_box(shown, "Error 11"));
        const auto status = device->status();
        EXPECT_EQ(status_value(status, "lock_bits"), "\"0x00000000\"");
        EXPECT_EQ(status_value(status, "gpnvm"), "[0, 0, 0]");
    }
    unsetenv("ZELMIRAN_COM_DIR");
}

}  // namespace
