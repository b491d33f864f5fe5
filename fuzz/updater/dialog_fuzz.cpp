// The operator dialogue for the fuzz target: questions answered from the
// fuzz input, the boxes noted for the checks with the console text before
// them.
#include "fuzz/updater/hostile_run.h"
#include "ui/dialog.h"

#include <cstring>
#include <string>

namespace {

int start_answer = answer_yes;
int cancel_answer = answer_no;
BoxesShown shown;
// The console text since the last box, and whether that box was Error 4.
std::string console;
bool after_no_device = false;

}  // namespace

void begin_dialogue(const HostileRun& run) {
    start_answer = run.start_answer;
    cancel_answer = run.cancel_answer;
    shown = {};
    console.clear();
    after_no_device = false;
}

const BoxesShown& boxes_shown() { return shown; }

int show_message_box(const char* caption, const char* text, unsigned style) {
    switch (style & 0x0F) {
    case box_yes_no_cancel: return start_answer;
    case box_yes_no: return cancel_answer;
    }
    if (after_no_device) {
        // Only the failed job's line, ending in its code 1, may come between.
        const bool in_order = !std::strcmp(caption, "Error 11") && console.find('\n') == console.size() - 1 &&
                              console.ends_with(" 1 \n");
        if (in_order) --shown.outcomes;
        else shown.stray_no_device = true;
    }
    after_no_device = !std::strcmp(caption, "Error 4");
    console.clear();
    ++shown.outcomes;
    if (std::strstr(text, "Запись новой программы")) shown.write_done = true;
    if (std::strstr(text, "Режим программирования отменен")) shown.mode_cancelled = true;
    return answer_ok;
}

void oem_print(const char* text) { console += text; }
void print_plain(const char* text) { console += text; }
void print_file_name(const char* raw, NameEncoding) { console += raw; }
