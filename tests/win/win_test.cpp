// The Win32 back ends under Wine: the port search over \\.\COMn names and the
// console text in the OEM code page.
#include "app/device_search.h"
#include "support/stdout_capture.h"
#include "ui/dialog.h"

#include <gtest/gtest.h>
#include <string>
#include <windows.h>

namespace {

TEST(PortSearch, NoComPortsGivesCode1AndOnlyTheLineEnd) {
    StdoutCapture console;
    EXPECT_EQ(find_device_port(), PortSearch::not_opened);
    EXPECT_EQ(console.text(), " \n");
    EXPECT_TRUE(port_is_closed());
    // The failing call and the system's words, for the flasher's detail.
    const NamedPortResult named = open_device_port("COM32");
    EXPECT_EQ(named.open, PortOpen::missing);
    EXPECT_EQ(named.system_reason.rfind("CreateFileA(\\\\.\\COM32): error 2: ", 0), 0u) << named.system_reason;
}

TEST(PortSearch, WriteWithNoPortIsCode1) {
    EXPECT_EQ(port_write("x", 1), PortWrite::no_port);
}

// A file or pipe gets what a Russian Windows writes there, whatever the
// PC's code pages.
TEST(ConsoleText, RussianTextGoesOutInCodePage866) {
    StdoutCapture console;
    oem_print("\xD1\xF0\xE0\xE2\xED\xE5\xED\xE8\xE5 OK");  // "Сравнение OK" in Windows-1251
    EXPECT_EQ(console.text(), "\x91\xE0\xA0\xA2\xAD\xA5\xAD\xA8\xA5 OK");  // the same in code page 866
}

}  // namespace
