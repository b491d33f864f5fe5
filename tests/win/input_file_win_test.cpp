// The Win32 back end of opening input files. Apart from win_test.cpp, since
// ui/dialog.h still has a NameEncoding of its own.
#include "files/input_file.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <windows.h>

namespace {

FileRead read_outcome(const std::string& name, NameEncoding encoding, std::vector<unsigned char>& contents) {
    long code = 0;
    return read_regular_file(name, encoding, 1 << 20, contents, code);
}

// Opening COM1 would take the port from the program using it. Refused by the
// name alone, the names of ports Wine lacks give not_regular_file, not not_found.
TEST(InputFile, DeviceNamesAreRefusedUnopened) {
    std::vector<unsigned char> contents;
    const auto start = std::chrono::steady_clock::now();
    for (const char* name : {"CON", "nul.txt", "C:\\some\\dir\\COM1.bin", "LPT3 ", "\\\\.\\COM1", "aux.tar.gz",
                             "conout$", "D:prn", "COM9:", "//?/C:/x.bin", "dir/Com2 . bin", "\\??\\C:\\x"})
        for (NameEncoding encoding : {NameEncoding::as_read, NameEncoding::utf8, NameEncoding::cp1251}) {
            EXPECT_EQ(open_regular_file(name, encoding).outcome, FileRead::not_regular_file) << name;
            EXPECT_EQ(read_outcome(name, encoding, contents), FileRead::not_regular_file) << name;
        }
    EXPECT_EQ(open_regular_file("LPT\xC2\xB9", NameEncoding::utf8).outcome, FileRead::not_regular_file);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    for (const char* name : {"COM10.bin", "CONSOLE.txt", "dir\\nul_file", "LPT"})
        EXPECT_EQ(open_regular_file(name, NameEncoding::as_read).outcome, FileRead::not_found) << name;
}

TEST(InputFile, CyrillicNameOpensByUtf8AndByCp1251Bytes) {
    const auto folder = std::filesystem::temp_directory_path() / ("zelmiran-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directory(folder);
    const std::wstring file = (folder / L"\u043F\u0440\u043E\u0448\u0438\u0432\u043A\u0430.bin").wstring();
    const std::string data("firmware\r\n\x1A\0tail", 16);
    std::ofstream(std::filesystem::path(file), std::ios::binary) << data;
    const std::string utf8 = utf8_from_utf16(std::u16string(file.begin(), file.end()));
    for (const auto& [name, encoding] :
         {std::pair{utf8, NameEncoding::utf8}, {cp1251_from_utf8(utf8), NameEncoding::cp1251}}) {
        OpenedFile opened = open_regular_file(name, encoding);
        ASSERT_EQ(opened.outcome, FileRead::done) << name << " " << opened.system_code;
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(opened.buffer.get()), {}), data);
        EXPECT_TRUE(opened.buffer->pubseekpos(10) == 10 && opened.buffer->sgetc() == 0x1A);
        std::vector<unsigned char> contents;
        EXPECT_EQ(read_outcome(name, encoding, contents), FileRead::done);
        EXPECT_EQ(std::string(contents.begin(), contents.end()), data);
    }
    std::vector<unsigned char> contents;
    EXPECT_EQ(read_outcome(folder.string(), NameEncoding::as_read, contents), FileRead::not_regular_file);
    std::filesystem::remove_all(folder);
}

}  // namespace
