// The programming run: applet, unlock and erase, write pass, verify pass,
// lock, boot bit. The outcome is shown to the operator; nothing is returned.
#pragma once

void run_programming();
