#include "files/input_file.h"
#include "support/run_program.h"

#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string read_through(std::streambuf& buffer) { return {std::istreambuf_iterator<char>(&buffer), {}}; }

class InputFile : public testing::Test {
protected:
    std::string path(const std::string& name) const { return (folder.path() / name).string(); }
    TempFolder folder;
};

// Both ways of opening refuse alike; a FIFO with no writer would block a plain
// open for ever.
TEST_F(InputFile, RefusesWhatIsNoRegularFile) {
    folder.write_file("file", "x");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("fifo", path("link").c_str()), 0);
    const std::pair<std::string, FileRead> cases[] = {
        {path("fifo"), FileRead::not_regular_file}, {path("link"), FileRead::not_regular_file},
        {path("."), FileRead::not_regular_file},    {path("missing"), FileRead::not_found},
        {path("file/below"), FileRead::not_found},  {path("file") + std::string(1, '\0'), FileRead::cannot_open},
    };
    for (const auto& [name, outcome] : cases) {
        const OpenedFile opened = open_regular_file(name, NameEncoding::utf8);
        EXPECT_EQ(opened.outcome, outcome) << name;
        EXPECT_EQ(opened.buffer, nullptr) << name;
        std::vector<unsigned char> contents{1};
        long code = -1;
        EXPECT_EQ(read_regular_file(name, NameEncoding::as_read, 100, contents, code), outcome) << name;
        EXPECT_TRUE(contents.empty()) << name;
        EXPECT_EQ(code != 0, outcome == FileRead::not_found) << name;
    }
}

TEST_F(InputFile, ReadsWholeFileWithinTheLimit) {
    std::string data(200000, '\0');  // several chunks, every byte value, CR LF and ^Z among them
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
    folder.write_file("image.bin", data);
    folder.write_file("empty", "");
    const std::vector<unsigned char> whole(data.begin(), data.end()), none;
    for (const auto& [name, limit, outcome, result] :
         {std::tuple{"image.bin", data.size(), FileRead::done, whole},
          {"image.bin", data.size() - 1, FileRead::too_large, none}, {"empty", 0, FileRead::done, none}}) {
        std::vector<unsigned char> contents{1};
        long code = -1;
        EXPECT_EQ(read_regular_file(path(name), NameEncoding::utf8, limit, contents, code), outcome) << name;
        EXPECT_TRUE(contents == result && code == 0) << name << " " << limit;
    }
    OpenedFile opened = open_regular_file(path("image.bin"), NameEncoding::as_read);
    ASSERT_EQ(opened.outcome, FileRead::done);
    EXPECT_EQ(read_through(*opened.buffer), data);
    EXPECT_EQ(opened.buffer->pubseekpos(123456), 123456);
    EXPECT_EQ(opened.buffer->sgetc(), static_cast<unsigned char>(data[123456]));
}

TEST_F(InputFile, Cp1251NameOpensTheUtf8NamedFile) {
    folder.write_file("\xD0\xBF\xD1\x80\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB2\xD0\xBA\xD0\xB0.bin", "firmware");
    const std::string cp1251 = path("\xEF\xF0\xEE\xF8\xE8\xE2\xEA\xE0.bin");  // прошивка.bin
    OpenedFile opened = open_regular_file(cp1251, NameEncoding::cp1251);
    ASSERT_EQ(opened.outcome, FileRead::done);
    EXPECT_EQ(read_through(*opened.buffer), "firmware");
    EXPECT_EQ(open_regular_file(cp1251, NameEncoding::as_read).outcome, FileRead::not_found);
}

}  // namespace
