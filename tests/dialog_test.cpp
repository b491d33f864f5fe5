// The console dialogue: how boxes look and how the questions are answered.
#include "ui/console_box.h"
#include "ui/dialog.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

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
                 const char* caption = " Attention ", const char* text = start_cp1251,
                 DialogueLanguage language = DialogueLanguage::english) {
    std::string input_copy = input;
    std::FILE* in = input_copy.empty() ? std::fopen("/dev/null", "r")
                                       : fmemopen(input_copy.data(), input_copy.size(), "r");
    char* shown = nullptr;
    std::size_t shown_size = 0;
    std::FILE* out = open_memstream(&shown, &shown_size);
    Dialogue result;
    result.answer = console_message_box(in, out, interactive, caption, text, style, language);
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

Dialogue run_russian(const std::string& input, unsigned style, bool interactive = false) {
    return run_box(input, style, interactive, " Attention ", start_cp1251, DialogueLanguage::russian);
}

TEST(RussianDialogue, AcceptsRussianAndEnglishAnswersInAnyCase) {
    EXPECT_EQ(run_russian("д\n", start_question).answer, answer_yes);
    EXPECT_EQ(run_russian(" Да \n", start_question).answer, answer_yes);
    EXPECT_EQ(run_russian("НЕТ\n", start_question).answer, answer_no);
    EXPECT_EQ(run_russian("о\n", start_question).answer, answer_cancel);
    EXPECT_EQ(run_russian("ОТМЕНА\n", start_question).answer, answer_cancel);
    EXPECT_EQ(run_russian("y\n", start_question).answer, answer_yes);
    EXPECT_EQ(run_russian("Н\n", cancel_question).answer, answer_no);
    EXPECT_EQ(run_russian("c\n", start_question).answer, answer_cancel);
}

TEST(RussianDialogue, PromptsAndButtonsAreRussian) {
    const Dialogue refused = run_russian("о\nдаа\nyes\n", cancel_question);
    EXPECT_EQ(refused.answer, answer_yes);
    EXPECT_EQ(refused.shown,
              "\n"
              "+------------------------+\n"
              "|  Attention   [warning] |\n"
              "+------------------------+\n"
              "| Запустить              |\n"
              "+------------------------+\n"
              "| [ Да ]  [ Нет ]        |\n"
              "+------------------------+\n"
              "Ответ: [д]а или [н]ет: о\n"
              "Ответьте д или н.\n"
              "Ответ: [д]а или [н]ет: даа\n"
              "Ответьте д или н.\n"
              "Ответ: [д]а или [н]ет: yes\n");

    const Dialogue ended = run_russian("", start_question);
    EXPECT_EQ(ended.answer, answer_cancel);
    EXPECT_NE(ended.shown.find("| [ Да ]  [ Нет ]  [ Отмена ] |\n"), std::string::npos) << ended.shown;
    EXPECT_NE(ended.shown.find("Ответ: [д]а, [н]ет или [о]тмена: (конец ввода)\n"), std::string::npos);
    EXPECT_EQ(run_russian("", cancel_question).answer, answer_no);

    const Dialogue typed = run_russian("\n", error_box, true);
    EXPECT_NE(typed.shown.find("| [ OK ] "), std::string::npos);
    EXPECT_NE(typed.shown.find("Нажмите Enter, чтобы продолжить "), std::string::npos);
}

TEST(RussianDialogue, EnglishDialogueTakesNoRussianAnswers) {
    const Dialogue dialogue = run_box("да\n", start_question);
    EXPECT_EQ(dialogue.answer, answer_cancel);
    EXPECT_NE(dialogue.shown.find("Please answer y, n or c.\nAnswer [y]es, [n]o or [c]ancel: (end of input)\n"),
              std::string::npos);
}

// The locale variables in the order the C library reads them for messages.
TEST(RussianDialogue, LanguageComesFromTheFirstLocaleVariableSet) {
    struct Saved {
        const char* name;
        std::string value;
        bool set;
    };
    std::vector<Saved> saved;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        saved.push_back({name, value ? value : "", value != nullptr});
    }
    const auto language_with = [](const char* all, const char* messages, const char* lang) {
        const char* values[] = {all, messages, lang};
        const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
        for (int i = 0; i < 3; ++i) values[i] ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
        return dialogue_language();
    };
    using enum DialogueLanguage;
    EXPECT_EQ(language_with(nullptr, nullptr, "ru_RU.UTF-8"), russian);
    EXPECT_EQ(language_with("ru_RU.KOI8-R", "C", "en_GB.UTF-8"), russian);
    EXPECT_EQ(language_with("", "en_US.UTF-8", "ru_RU.UTF-8"), english);
    EXPECT_EQ(language_with("C", nullptr, "ru_RU.UTF-8"), english);
    EXPECT_EQ(language_with(nullptr, "ru_UA.UTF-8", nullptr), russian);
    EXPECT_EQ(language_with(nullptr, nullptr, nullptr), english);
    for (const Saved& variable : saved)
        variable.set ? setenv(variable.name, variable.value.c_str(), 1) : unsetenv(variable.name);
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
