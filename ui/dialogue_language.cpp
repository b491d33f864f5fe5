// The language of the console dialogue, apart from the rest of the console
// back end so that zelmiran-flash speaks the same language without it.
#include "ui/console_box.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

DialogueLanguage dialogue_language() {
    // The order in which the C library picks the messages' locale.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return std::strncmp(value, "ru", 2) == 0 ? DialogueLanguage::russian : DialogueLanguage::english;
    }
    return DialogueLanguage::english;
}
