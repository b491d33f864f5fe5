// The operator dialogue for the fuzz target: questions answered from the
// fuzz input, console text discarded, the boxes noted for the checks.
#include "fuzz/updater/hostile_run.h"
#include "ui/dialog.h"

#include <cstring>

namespace {

int start_answer = answer_yes;
int cancel_answer = answer_no;
BoxesShown shown;

}  // namespace

void begin_dialogue(const HostileRun& run) {
    start_answer = run.start_answer;
    cancel_answer = run.cancel_answer;
    shown = {};
}

const BoxesShown& boxes_shown() { return shown; }

int show_message_box(const char*, const char* text, unsigned style) {
    switch (style & 0x0F) {
    case box_yes_no_cancel: return start_answer;
    case box_yes_no: return cancel_answer;
    }
    ++shown.outcomes;
    if (std::strstr(text, "Запись новой программы")) shown.write_done = true;
    if (std::strstr(text, "Режим программирования отменен")) shown.mode_cancelled = true;
    return answer_ok;
}

void oem_print(const char*) {}
void print_plain(const char*) {}
void print_file_name(const char*, NameEncoding) {}
void show_page_done(RunPass, int) {}
