// The updater's console lines of the device steps: headings, dots and " OK "
// as the steps go, and the failing step's own line.
#pragma once

#include "device/outcome.h"

// Heading when a step starts, a dot after every 4 lock regions and every 32
// pages, " OK " when it is done.
class StepLines : public StepObserver {
public:
    void started(Step step, int units) override;
    void advanced(Step step, int units_done) override;
    void finished(Step step) override;
};

// The line that says what failed, with its number where it has one. A start
// of the applet that was not sent shows the no-device box first.
void show_step_failure(const Outcome& outcome);
