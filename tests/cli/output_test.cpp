#include "csv.h"
#include "json.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace {

TEST(Sha256, PublishedTestVectors) {
    EXPECT_EQ(sha256_hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // The 448-bit message in two parts, on an object that has given a digest before.
    Sha256 hash;
    hash.add("x", 1);
    (void)hash.hex_digest();
    hash.add("abcdbcdecdefdefgefghfghighijhijk", 32);
    hash.add("ijkljklmklmnlmnomnopnopq", 24);
    EXPECT_EQ(hash.hex_digest(), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Json, EscapesControlCharactersAndReplacesInvalidUtf8) {
    EXPECT_EQ(json_quoted("q\"b\\\x01\n\x1F\x7F"), "\"q\\\"b\\\\\\u0001\\u000A\\u001F\x7F\"");
    // Valid: é, €, an emoji. Invalid: a lone byte, a cut sequence before 'A',
    // an overlong '/', a surrogate, a code point past U+10FFFF, a cut end.
    EXPECT_EQ(json_quoted("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"");
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(json_quoted("\xFF" "\xE2\x82" "A"), "\"" + replacement + replacement + "A\"");
    EXPECT_EQ(json_quoted("\xC0\xAF"), "\"" + replacement + replacement + "\"");
    EXPECT_EQ(json_quoted("\xED\xA0\x80"), "\"" + replacement + replacement + replacement + "\"");
    EXPECT_EQ(json_quoted("\xF4\x90\x80\x80"), "\"" + replacement + replacement + replacement + replacement + "\"");
    EXPECT_EQ(json_quoted("a\xF0\x9F\x98"), "\"a" + replacement + "\"");
}

TEST(Json, ObjectOnOneLine) {
    JsonObject image;
    image.add_string("format", "ihex").add_integer("bytes", 524288);
    JsonObject result;
    result.add_string("command", "info")
        .add_integer("exit_code", -3)
        .add_bool("controller_ok", true)
        .add_seconds("seconds", 12.3456)
        .add_seconds("never", 1.0 / 0.0)
        .add_integers("gpnvm", {0, 1, 1})
        .add_integers("none", {})
        .add_object("image", image);
    EXPECT_EQ(result.text(), "{\"command\":\"info\",\"exit_code\":-3,\"controller_ok\":true,\"seconds\":12.346,"
                             "\"never\":null,\"gpnvm\":[0,1,1],\"none\":[],"
                             "\"image\":{\"format\":\"ihex\",\"bytes\":524288}}");
}

TEST(Csv, QuotesFieldsAndAppendsRowsUnderOneHeader) {
    EXPECT_EQ(csv_row({"plain", "a,b", "say \"hi\"", "two\nlines", "cr\r", ""}),
              "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",\"cr\r\",\r\n");
    auto log = std::filesystem::temp_directory_path() / ("csv-test-" + std::to_string(std::random_device{}()) + ".csv");
    ASSERT_TRUE(append_csv_row(log.string(), {"1", "ok"}, {"number", "result"}));
    ASSERT_TRUE(append_csv_row(log.string(), {"2", "failed, detail"}, {"number", "result"}));
    std::stringstream text;
    text << std::ifstream(log, std::ios::binary).rdbuf();
    EXPECT_EQ(text.str(), "number,result\r\n1,ok\r\n2,\"failed, detail\"\r\n");
    std::filesystem::remove(log);
    EXPECT_FALSE(append_csv_row(std::filesystem::temp_directory_path().string(), {"1"}));
}

// What the writers write reads back whole: a worker's detail with quotes,
// line breaks and Cyrillic, a log row with commas and CR LF.
TEST(Readers, TakeBackWhatTheWritersWrote) {
    const std::string detail = "say \"hi\"\n\\ проверка \x01";
    JsonObject object;
    object.add_string("detail", detail).add_integer("exit_code", 11).add_object("image", JsonObject().add_string("x", "}"));
    std::map<std::string, std::string> members;
    ASSERT_TRUE(read_json_members(object.text(), members));
    EXPECT_EQ(members["detail"], detail);
    EXPECT_EQ(members["exit_code"], "11");
    EXPECT_EQ(members["image"], R"({"x":"}"})");
    ASSERT_TRUE(read_json_members(R"({"a":"\u00e9\ud83d\ude00"})", members));
    EXPECT_EQ(members["a"], "\u00e9\U0001F600");
    for (const char* broken : {"", "{", R"({"a":1)", R"({"a" 1})", R"({"a":"b)", R"({"a":1} x)", "progress 50%"})
        EXPECT_FALSE(read_json_members(broken, members)) << broken;

    const std::vector<std::string> row = {"1", "a,b", "say \"hi\"", "two\r\nlines", ""};
    EXPECT_EQ(csv_rows(csv_row(row) + "\n" + csv_row({"2"}) + "3,x"),
              (std::vector<std::vector<std::string>>{row, {"2"}, {"3", "x"}}));
}

}  // namespace
