// The Win32 back ends under Wine: the port search over \\.\COMn names and the
// console text in the OEM code page.
#include "link/serial.h"
#include "link/serial_platform.h"
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
    // The last name tried, with the failing call, for the link trace.
    EXPECT_EQ(std::string(platform_failure()).rfind("CreateFileA(\\\\.\\COM32): error 2: ", 0), 0u)
        << platform_failure();
}

TEST(PortSearch, WriteWithNoPortIsCode1) {
    EXPECT_EQ(port_write("x", 1), PortWrite::no_port);
}

TEST(ConsoleText, RussianTextGoesOutInTheOemCodePage) {
    if (GetACP() != 1251 || GetOEMCP() != 866) GTEST_SKIP() << "needs a Russian locale";
    StdoutCapture console;
    oem_print("\xD1\xF0\xE0\xE2\xED\xE5\xED\xE8\xE5 OK");  // "Сравнение OK" in Windows-1251
    EXPECT_EQ(console.text(), "\x91\xE0\xA0\xA2\xAD\xA5\xAD\xA8\xA5 OK");  // the same in code page 866
}

}  // namespace
