// A fixture whose port the updater's own search has found and opened, with
// the pseudo-terminal peer at its far end.
#pragma once

#include "app/device_search.h"
#include "link/serial.h"
#include "support/pty_peer.h"
#include "support/run_program.h"
#include "support/stdout_capture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

// A folder of port links that the updater searches.
class PortFolder : public testing::Test {
protected:
    void SetUp() override { setenv("ZELMIRAN_COM_DIR", folder.path().c_str(), 1); }
    void TearDown() override {
        close_port();
        unsetenv("ZELMIRAN_COM_DIR");
    }
    TempFolder folder;
};

class OpenPort : public PortFolder {
protected:
    void SetUp() override {
        PortFolder::SetUp();
        device = std::make_unique<PtyPeer>(folder.path(), 1);
        device->answer_greeting({0x0A, 0x0D});
        StdoutCapture console;
        ASSERT_EQ(find_device_port(), PortSearch::found);
        ASSERT_EQ(device->greeting_received(), (Bytes{0x80, 0x80, '#'}));
    }
    std::unique_ptr<PtyPeer> device;
};
