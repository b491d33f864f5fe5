// The serial back end on Windows: the Win32 communications services on \\.\COMn.
#include "link/serial.h"
#include "link/serial_platform.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

namespace {

HANDLE port_handle = nullptr;
char port_name[MAX_PATH] = "";
char failure[320];

bool fail(const char* call) {
    const DWORD code = GetLastError();
    char reason[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, reason,
                   sizeof reason, nullptr);
    for (char* end = reason + std::strlen(reason); end > reason && (end[-1] == '\n' || end[-1] == '\r');)
        *--end = '\0';
    std::snprintf(failure, sizeof failure, "%s(%s): error %lu: %s", call, port_name,
                  static_cast<unsigned long>(code), reason);
    return false;
}

}  // namespace

PortOpen platform_open_port(int number) { return platform_open_port_path(platform_port_path(number).c_str()); }

PortOpen platform_open_port_path(const char* path) {
    std::snprintf(port_name, sizeof port_name, "%s", path);
    const HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD reason = GetLastError();
        fail("CreateFileA");
        // A port another program holds gives either code, depending on its driver.
        if (reason == ERROR_ACCESS_DENIED || reason == ERROR_SHARING_VIOLATION) return PortOpen::busy;
        if (reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND) return PortOpen::missing;
        return PortOpen::failed;
    }
    port_handle = handle;
    return PortOpen::opened;
}

// Without the device-namespace prefix.
const char* platform_port_name() {
    return std::strncmp(port_name, "\\\\.\\", 4) == 0 ? port_name + 4 : port_name;
}

std::string platform_port_path(int number) { return "\\\\.\\COM" + std::to_string(number); }

bool platform_port_present(const char* path) {
    // The device namespace lists a port as long as its driver has it, open
    // by another program or not.
    const char* device = std::strncmp(path, "\\\\.\\", 4) == 0 ? path + 4 : path;
    char target[512];
    if (QueryDosDeviceA(device, target, sizeof target) != 0) return true;
    // Wine lists no ports there. An open that asks for no access reads,
    // writes and sets nothing, and is not refused while another holds it.
    const HANDLE query = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (query == INVALID_HANDLE_VALUE) return false;
    CloseHandle(query);
    return true;
}

void platform_prepare_port() {
    SetCommMask(port_handle, EV_RXCHAR);
    SetupComm(port_handle, 1500, 1500);
}

bool platform_set_timeouts() {
    COMMTIMEOUTS CommTimeOuts;
    CommTimeOuts.ReadIntervalTimeout = MAXDWORD;
    CommTimeOuts.ReadTotalTimeoutMultiplier = 0;
    CommTimeOuts.ReadTotalTimeoutConstant = link_timeout_ms;
    CommTimeOuts.WriteTotalTimeoutMultiplier = 0;
    CommTimeOuts.WriteTotalTimeoutConstant = link_timeout_ms;
    if (!SetCommTimeouts(port_handle, &CommTimeOuts)) return fail("SetCommTimeouts");
    return true;
}

bool platform_apply_settings() {
    DCB ComDCM;
    std::memset(&ComDCM, 0, sizeof ComDCM);
    ComDCM.DCBlength = 28;
    GetCommState(port_handle, &ComDCM);
    ComDCM.BaudRate = 115200;
    ComDCM.ByteSize = 8;
    ComDCM.Parity = NOPARITY;
    ComDCM.StopBits = ONESTOPBIT;
    ComDCM.fBinary = 1;
    ComDCM.fParity = 0;
    ComDCM.fOutxCtsFlow = 0;
    ComDCM.fOutxDsrFlow = 0;
    ComDCM.fDtrControl = DTR_CONTROL_DISABLE;
    ComDCM.fRtsControl = RTS_CONTROL_DISABLE;
    ComDCM.fOutX = 0;
    ComDCM.fInX = 0;
    ComDCM.fErrorChar = 0;
    ComDCM.fNull = 0;
    ComDCM.fAbortOnError = 1;
    ComDCM.XonChar = 0x00;
    ComDCM.XoffChar = static_cast<char>(0xFF);
    ComDCM.XonLim = 128;
    ComDCM.XoffLim = 128;
    if (!SetCommState(port_handle, &ComDCM)) return fail("SetCommState");
    return true;
}

bool platform_read_call(unsigned char* destination, std::uint32_t count, std::uint32_t* feedback) {
    DWORD moved = 0;
    const BOOL done = ReadFile(port_handle, destination, count, &moved, nullptr);
    *feedback = moved;
    return done ? true : fail("ReadFile");
}

bool platform_write_call(const unsigned char* source, std::uint32_t count, std::uint32_t* feedback) {
    DWORD moved = 0;
    const BOOL done = WriteFile(port_handle, source, count, &moved, nullptr);
    *feedback = moved;
    return done ? true : fail("WriteFile");
}

void platform_close_port() {
    CloseHandle(port_handle);
    port_handle = nullptr;
}

bool platform_port_open() { return port_handle != nullptr; }

ParkedPort platform_park_port() {
    const ParkedPort parked{reinterpret_cast<std::intptr_t>(port_handle), port_name};
    port_handle = nullptr;
    return parked;
}

void platform_resume_port(const ParkedPort& port) {
    port_handle = reinterpret_cast<HANDLE>(port.handle);
    std::snprintf(port_name, sizeof port_name, "%s", port.name.c_str());
}

void platform_close_parked(const ParkedPort& port) { CloseHandle(reinterpret_cast<HANDLE>(port.handle)); }

std::uint32_t platform_tick_ms() { return GetTickCount(); }

const char* platform_failure() { return failure; }
