#include "app/update_driver.h"

#include <cstdio>

int main() {
    // Progress marks must show while the link works, and must stay in order
    // with the prompts of the dialogue.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    run_update();
    return 0;
}
