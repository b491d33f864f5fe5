// The updater as an operator starts it: job file, texts, device search and
// the link trace, through the real program.
#include "support/console_text.h"
#include "support/pty_peer.h"
#include "support/run_program.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <thread>

namespace {

const std::string banner =
    "\n  ***  Обновление встроенного ПО майндмашины 'ЗЕЛМИРАН'  *** ( V1.0 a-test) \n\n";
const std::string search_heading = " \n2. Поиск устройства ... \n    ";
const std::string device_heading = " \n   Прибор 'Зелмиран' подключен к компьютеру и готов к программированию \n";

std::string job_step(const std::string& name) {
    return "1. Определение загружаемого файла  \n   Имя файла новой программы : " + name + " \n \n";
}

class Updater : public testing::Test {
protected:
    // Runs the updater in the folder with an empty folder of ports.
    ProgramRun run(bool unprivileged = false, std::vector<std::string> environment = {}, std::string input = {}) {
        std::string program = ZELMIRAN_UPDATE_PATH;
        if (unprivileged) {
            // The build folder may be closed to other users; the test folder is not.
            program = (folder.path() / "zelmiran-update").string();
            std::filesystem::copy_file(ZELMIRAN_UPDATE_PATH, program,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        std::filesystem::create_directories(ports());
        environment.push_back("ZELMIRAN_COM_DIR=" + ports().string());
        ProgramOptions options;
        options.folder = folder.path();
        options.environment = environment;
        options.unprivileged = unprivileged;
        options.input = std::move(input);
        ProgramRun result = run_program(program, options);
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_code, 0);
        return result;
    }
    std::filesystem::path ports() const { return folder.path() / "ports"; }
    TempFolder folder;
};

using JobFile = Updater;

TEST_F(JobFile, MissingJobFileIsError1) {
    const ProgramRun result = run();
    EXPECT_EQ(result.out.rfind(banner, 0), 0u);
    EXPECT_TRUE(shows_box(result.out, "Error 1"));
    EXPECT_NE(result.out.find("Отсутствует файл 'f_write.txt'"), std::string::npos);
    EXPECT_EQ(result.out.find("1. "), std::string::npos);
}

TEST_F(JobFile, NameEndingInALineBreakIsError2AndWithoutItIsAccepted) {
    folder.write_file("fw.bin", "image");
    folder.write_file("f_write.txt", "fw.bin\n");
    const ProgramRun with_break = run();
    EXPECT_TRUE(shows_box(with_break.out, "Error 2"));
    EXPECT_EQ(with_break.out.find("1. "), std::string::npos);

    folder.write_file("f_write.txt", "fw.bin");
    const ProgramRun without = run();
    EXPECT_EQ(without.out.rfind(banner + job_step("fw.bin") + search_heading, 0), 0u) << without.out;
    EXPECT_TRUE(shows_box(without.out, "Error 4"));
}

TEST_F(JobFile, EmptyJobFileNamesNoFileAndIsError3) {
    folder.write_file("f_write.txt", "");
    const ProgramRun result = run();
    EXPECT_EQ(result.out.rfind(banner + job_step(""), 0), 0u) << result.out;
    EXPECT_TRUE(shows_box(result.out, "Error 3"));
    EXPECT_NE(result.out.find("Ошибка открытия файла программы"), std::string::npos);
}

TEST_F(JobFile, NameOf99CharactersFitsAnd100DoNot) {
    const std::string name99(99, 'n');
    folder.write_file(name99, "image");
    folder.write_file("f_write.txt", name99);
    const ProgramRun fits = run();
    EXPECT_NE(fits.out.find(job_step(name99)), std::string::npos);
    EXPECT_TRUE(shows_box(fits.out, "Error 4"));

    const std::string name100(100, 'n');
    folder.write_file(name100, "image");
    folder.write_file("f_write.txt", name100);
    EXPECT_TRUE(shows_box(run().out, "Error 2"));
}

TEST_F(JobFile, CarriageReturnBeforeTheEndIsPartOfTheName) {
    folder.write_file("f_write.txt", "fw.bin\r");
    folder.write_file("fw.bin", "image");
    EXPECT_TRUE(shows_box(run().out, "Error 3"));
    folder.write_file("fw.bin\r", "image");
    const ProgramRun named = run();
    EXPECT_NE(named.out.find(job_step("fw.bin\r")), std::string::npos);
    EXPECT_TRUE(shows_box(named.out, "Error 4"));
}

TEST_F(JobFile, JobFileThatIsAFolderOrAFifoIsMissing) {
    std::filesystem::create_directory(folder.path() / "f_write.txt");
    const ProgramRun result = run();
    EXPECT_TRUE(shows_box(result.out, "Error 1")) << result.out;
    EXPECT_EQ(result.out.find("1. "), std::string::npos);

    // Opening a FIFO without a writer would wait for ever.
    std::filesystem::remove(folder.path() / "f_write.txt");
    ASSERT_EQ(mkfifo((folder.path() / "f_write.txt").c_str(), 0600), 0);
    EXPECT_TRUE(shows_box(run().out, "Error 1"));
}

TEST_F(JobFile, FolderEmptyFifoOrUnreadableFileIsNoImage) {
    std::filesystem::create_directory(folder.path() / "images");
    folder.write_file("f_write.txt", "images");
    EXPECT_TRUE(shows_box(run().out, "Error 3"));

    // Opens, but its reads fail; and one that reads but cannot be rewound
    // (standard input is a pipe). Neither reaches the port search.
    for (const std::string name : {"/proc/self/mem", "/dev/stdin"}) {
        folder.write_file("f_write.txt", name);
        const ProgramRun result = run();
        EXPECT_EQ(result.out.rfind(banner + job_step(name) + "\n+--", 0), 0u) << result.out;
        EXPECT_TRUE(shows_box(result.out, "Error 3")) << result.out;
    }

    // Empty (an interrupted copy) or a FIFO: refused before the search, so
    // that no device is erased for it and nothing waits for a writer.
    ASSERT_EQ(mkfifo((folder.path() / "pipe").c_str(), 0600), 0);
    folder.write_file("empty.bin", "");
    for (const std::string name : {"empty.bin", "pipe"}) {
        folder.write_file("f_write.txt", name);
        const ProgramRun result = run();
        EXPECT_EQ(result.out.rfind(banner + job_step(name) + "\n+--", 0), 0u) << result.out;
        EXPECT_TRUE(shows_box(result.out, "Error 3")) << result.out;
    }

    folder.write_file("secret.bin", "image");
    std::filesystem::permissions(folder.path() / "secret.bin", std::filesystem::perms::none);
    folder.write_file("f_write.txt", "secret.bin");
    const ProgramRun unreadable = run(true);
    EXPECT_TRUE(shows_box(unreadable.out, "Error 3")) << unreadable.out;
}

using Texts = Updater;

TEST_F(Texts, BinaryHoldsTheTextsInWindows1251) {
    std::ifstream file(ZELMIRAN_UPDATE_PATH, std::ios::binary);
    const std::string binary((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // "Обновление встроенного ПО майндмашины 'ЗЕЛМИРАН'" in Windows-1251.
    const std::string cp1251 =
        "\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5 \xE2\xF1\xF2\xF0\xEE\xE5\xED\xED\xEE\xE3\xEE \xCF\xCE "
        "\xEC\xE0\xE9\xED\xE4\xEC\xE0\xF8\xE8\xED\xFB '\xC7\xC5\xCB\xCC\xC8\xD0\xC0\xCD'";
    EXPECT_NE(binary.find(cp1251), std::string::npos);
    EXPECT_EQ(binary.find("Обновление"), std::string::npos);
}

TEST_F(Texts, NoDeviceRunReadsExactlyAsItShould) {
    folder.write_file("f_write.txt", "fw.bin");
    folder.write_file("fw.bin", "image");
    const ProgramRun result = run();
    EXPECT_EQ(result.out,
              banner + job_step("fw.bin") + search_heading + " \n \n" +
                  "\n"
                  "+----------------------------------------------------+\n"
                  "| Error 4                                    [error] |\n"
                  "+----------------------------------------------------+\n"
                  "| Устройство не подключено или драйвер не установлен |\n"
                  "+----------------------------------------------------+\n"
                  "| [ OK ]                                             |\n"
                  "+----------------------------------------------------+\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(Texts, FoundDeviceIsGreetedOnceAndMarked) {
    folder.write_file("f_write.txt", "fw.bin");
    folder.write_file("fw.bin", "image");
    std::filesystem::create_directories(ports());
    PtyPeer device(ports(), 3);
    device.answer_greeting({0x0A, 0x0D});
    const ProgramRun result = run();
    // The device stage follows on the port found.
    EXPECT_EQ(result.out.rfind(banner + job_step("fw.bin") + search_heading + ".3. \n" + device_heading, 0), 0u)
        << result.out;
    EXPECT_EQ(device.greeting_received(), (Bytes{0x80, 0x80, '#'}));
    EXPECT_TRUE(device.drain().empty());
}

// Ports that exist but cannot be opened say why before Error 4; one that
// answers after them is the success path as before.
TEST_F(Texts, PortsThatCannotBeOpenedSayWhyBeforeError4) {
    folder.write_file("f_write.txt", "fw.bin");
    folder.write_file("fw.bin", "image");
    std::filesystem::create_directories(ports());
    PtyPeer busy(ports(), 1), denied(ports(), 3);
    busy.open_to_all(true);
    const std::string out = run(true).out, path = "   " + ports().string();
    EXPECT_EQ(out.substr(0, out.find("\n+--")),
              banner + job_step("fw.bin") + search_heading + " \n" + path +
                  "/COM1 занят другой программой: закройте её и запустите обновление снова \n" + path +
                  "/COM3: нет доступа (добавьте пользователя в группу dialout) \n \n");
    EXPECT_TRUE(shows_box(out, "Error 4"));

    PtyPeer device(ports(), 4);
    device.open_to_all();
    device.answer_greeting({0x0A, 0x0D});
    EXPECT_EQ(run(true).out.rfind(banner + job_step("fw.bin") + search_heading + ".4. \n" + device_heading, 0), 0u);
}

TEST_F(Texts, TraceShowsTheLinkOnStandardErrorOnly) {
    folder.write_file("f_write.txt", "fw.bin");
    folder.write_file("fw.bin", "image");
    std::filesystem::create_directories(ports());
    PtyPeer device(ports(), 2);
    device.answer_greeting({0x0A, 0x0D});
    const ProgramRun traced = run(false, {"ZELMIRAN_TRACE=1"});
    EXPECT_EQ(traced.out.rfind(banner + job_step("fw.bin") + search_heading + ".2. \n" + device_heading, 0), 0u)
        << traced.out;
    EXPECT_NE(traced.err.find("COM1: not opened: open(" + (ports() / "COM1").string() +
                              "): No such file or directory"),
              std::string::npos)
        << traced.err;
    EXPECT_NE(traced.err.find("TX 0000  80 80 23"), std::string::npos) << traced.err;
    EXPECT_NE(traced.err.find("|..#|"), std::string::npos);
    EXPECT_NE(traced.err.find("RX 0000  0A 0D"), std::string::npos) << traced.err;
    EXPECT_NE(traced.err.find(" ms] "), std::string::npos);
}

}  // namespace
