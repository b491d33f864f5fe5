// The console dialogue: how boxes look and how the questions are answered.
#include "ui/console_box.h"
#include "ui/dialog.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// "Запустить" and "Ошибка" as the updater stores them, in Windows-1251.
const char start_cp1251[] = "\xC7\xE0\xEF\xF3\xF1\xF2\xE8\xF2\xFC";
const char error_cp1251[] = "\xCE\xF8\xE8\xE1\xEA\xE0";

struct Dialogue {
    int answer = 0;
    std::string shown;
    std::string input_left;
};

Dialogue run_box(const std::string& input, unsigned style, bool interactive = false,
                 const char* caption = " Attention ", const char* text = start_cp1251) {
    std::string input_copy = input;
    std::FILE* in = input_copy.empty() ? std::fopen("/dev/null", "r")
                                       : fmemopen(input_copy.data(), input_copy.size(), "r");
    char* shown = nullptr;
    std::size_t shown_size = 0;
    std::FILE* out = open_memstream(&shown, &shown_size);
    Dialogue result;
    result.answer = console_message_box(in, out, interactive, caption, text, style);
    std::fclose(out);
    result.shown.assign(shown, shown_size);
    std::free(shown);
    for (int c; (c = std::fgetc(in)) != EOF;) result.input_left.push_back(static_cast<char>(c));
    std::fclose(in);
    return result;
}

constexpr unsigned start_question = box_yes_no_cancel | box_icon_warning;
constexpr unsigned cancel_question = box_yes_no | box_icon_warning;
constexpr unsigned error_box = box_ok | box_icon_error;

TEST(Questions, ThreeButtonQuestionGivesYesNoOrCancel) {
    EXPECT_EQ(run_box("y\n", start_question).answer, answer_yes);
    EXPECT_EQ(run_box("YES\n", start_question).answer, answer_yes);
    EXPECT_EQ(run_box("n\n", start_question).answer, answer_no);
    EXPECT_EQ(run_box(" No \r\n", start_question).answer, answer_no);
    EXPECT_EQ(run_box("C\n", start_question).answer, answer_cancel);
    EXPECT_EQ(run_box("cancel", start_question).answer, answer_cancel);
}

TEST(Questions, TwoButtonQuestionGivesYesOrNoOnly) {
    EXPECT_EQ(run_box("Y\n", cancel_question).answer, answer_yes);
    EXPECT_EQ(run_box("no\n", cancel_question).answer, answer_no);
    const Dialogue cancel_is_no_answer = run_box("c\nn\n", cancel_question);
    EXPECT_EQ(cancel_is_no_answer.answer, answer_no);
    EXPECT_NE(cancel_is_no_answer.shown.find("Please answer y or n.\n"), std::string::npos);
}

TEST(Questions, EndOfInputMeansCancelOrNo) {
    EXPECT_EQ(run_box("", start_question).answer, answer_cancel);
    EXPECT_EQ(run_box("", cancel_question).answer, answer_no);
    EXPECT_EQ(run_box("maybe\n", start_question).answer, answer_cancel);
    EXPECT_EQ(run_box("maybe\n", cancel_question).answer, answer_no);
}

TEST(Questions, InvalidAnswersAskAgainAndTheNextLineIsLeftUnread) {
    const Dialogue dialogue = run_box("\nok\nyess\nn\ny\n", start_question);
    EXPECT_EQ(dialogue.answer, answer_no);
    EXPECT_EQ(dialogue.input_left, "y\n");
    std::size_t asked = 0;
    for (std::size_t at = 0; (at = dialogue.shown.find("Answer [y]es, [n]o or [c]ancel: ", at)) != std::string::npos;
         ++at)
        ++asked;
    EXPECT_EQ(asked, 4u);
    std::size_t refused = 0;
    for (std::size_t at = 0; (at = dialogue.shown.find("Please answer y, n or c.\n", at)) != std::string::npos;
         ++at)
        ++refused;
    EXPECT_EQ(refused, 3u);
}

TEST(InformingBoxes, WaitForEnterOnlyAtATerminal) {
    const Dialogue piped = run_box("y\n", error_box, false, "Error 1", error_cp1251);
    EXPECT_EQ(piped.answer, answer_ok);
    EXPECT_EQ(piped.input_left, "y\n");
    EXPECT_EQ(piped.shown.find("Enter"), std::string::npos);

    const Dialogue typed = run_box("\nnext\n", error_box, true, "Error 1", error_cp1251);
    EXPECT_EQ(typed.answer, answer_ok);
    EXPECT_EQ(typed.input_left, "next\n");
    EXPECT_NE(typed.shown.find("Press Enter to continue "), std::string::npos);
}

TEST(BoxLook, ShowsCaptionIconKindTextAndButtons) {
    EXPECT_EQ(run_box("", error_box, false, "Error 5", error_cp1251).shown,
              "\n"
              "+------------------+\n"
              "| Error 5  [error] |\n"
              "+------------------+\n"
              "| Ошибка           |\n"
              "+------------------+\n"
              "| [ OK ]           |\n"
              "+------------------+\n");
    const std::string question = run_box("y\n", start_question).shown;
    EXPECT_NE(question.find("|  Attention        [warning] |\n"
                            "+-----------------------------+\n"
                            "| Запустить                   |\n"
                            "+-----------------------------+\n"
                            "| [ Yes ]  [ No ]  [ Cancel ] |\n"),
              std::string::npos)
        << question;
    EXPECT_NE(run_box("", box_ok | box_icon_information).shown.find("[information]"), std::string::npos);
}

TEST(ConsoleText, Windows1251BecomesUtf8InAPlainLocale) {
    EXPECT_EQ(to_console_encoding(start_cp1251), "Запустить");
    EXPECT_EQ(to_console_encoding("\xAB\xB9\xBB"), "«№»");
    EXPECT_EQ(to_console_encoding("plain ASCII \n"), "plain ASCII \n");
    EXPECT_EQ(to_console_encoding(""), "");
}

}  // namespace
