#include "files/input_file.h"
#include "files/read_whole.h"

#include <cerrno>
#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <io.h>
#include <string_view>
#include <utility>
#include <windows.h>

namespace {

class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(other.release()) {}
    Handle& operator=(Handle&&) = delete;
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    [[nodiscard]] HANDLE get() const { return handle_; }
    [[nodiscard]] HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

private:
    HANDLE handle_;
};

// A C runtime descriptor, which closes the handle it was made from.
class CrtDescriptor {
public:
    explicit CrtDescriptor(int fd) : fd_(fd) {}
    CrtDescriptor(const CrtDescriptor&) = delete;
    CrtDescriptor& operator=(const CrtDescriptor&) = delete;
    ~CrtDescriptor() {
        if (fd_ >= 0) _close(fd_);
    }
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

struct OpenedHandle {
    FileRead outcome = FileRead::cannot_open;
    long system_code = 0;
    Handle handle;
    std::uint64_t size = 0;
};

OpenedHandle failure(FileRead outcome, long system_code) { return {outcome, system_code, Handle{}, 0}; }

OpenedHandle last_failure(FileRead outcome) { return failure(outcome, static_cast<long>(GetLastError())); }

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// \\.\COM3, \\?\GLOBALROOT\... and the like reach devices directly; \??\ is
// passed to the kernel as it stands.
bool names_device_namespace(std::wstring_view name) {
    if (name.size() < 4 || !is_separator(name[3])) return false;
    if (name.substr(0, 4) == L"\\??\\") return true;
    return is_separator(name[0]) && is_separator(name[1]) && (name[2] == L'.' || name[2] == L'?');
}

wchar_t ascii_upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool is_device_digit(wchar_t c) { return (c >= L'1' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3'; }

bool is_device_base(std::wstring_view base) {
    std::wstring upper(base);
    for (wchar_t& c : upper) c = ascii_upper(c);
    for (const wchar_t* device : {L"CON", L"NUL", L"AUX", L"PRN", L"CONIN$", L"CONOUT$"})
        if (upper == device) return true;
    const std::wstring_view prefix = std::wstring_view(upper).substr(0, 3);
    return upper.size() == 4 && (prefix == L"COM" || prefix == L"LPT") && is_device_digit(upper[3]);
}

// Windows takes such a name in any folder, whatever follows a dot or a
// colon, with trailing spaces and dots, for the device itself; deciding by
// the name alone means the port is never opened, not even for a moment.
bool names_device(std::wstring_view name) {
    if (names_device_namespace(name)) return true;
    std::size_t start = 0;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (is_separator(name[i])) start = i + 1;
    if (start == 0 && name.size() >= 2 && name[1] == L':') start = 2;  // C:COM1
    std::wstring_view base = name.substr(start);
    base = base.substr(0, base.find_first_of(L".:"));
    while (!base.empty() && (base.back() == L' ' || base.back() == L'.')) base.remove_suffix(1);
    return is_device_base(base);
}

// The file's name as Windows opens it; false when it has none.
bool wide_name(const std::string& name, NameEncoding encoding, std::wstring& wide) {
    wide.clear();
    if (encoding == NameEncoding::cp1251) {
        const std::u16string utf16 = utf16_from_cp1251(name);
        wide.assign(utf16.begin(), utf16.end());
        return true;
    }
    if (encoding == NameEncoding::utf8) {
        std::u16string utf16;
        if (!utf16_from_utf8(name, utf16)) return false;
        wide.assign(utf16.begin(), utf16.end());
        return true;
    }
    // What a narrow open would have made of the bytes.
    if (name.empty()) return true;
    const int size = static_cast<int>(name.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, name.data(), size, nullptr, 0);
    if (length <= 0) return false;
    wide.resize(static_cast<std::size_t>(length));
    return MultiByteToWideChar(CP_ACP, 0, name.data(), size, wide.data(), length) == length;
}

FileRead open_failure(DWORD error) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileRead::not_found;
    return error == ERROR_ACCESS_DENIED ? FileRead::access_denied : FileRead::cannot_open;
}

// A pipe, a console or a device is told by its type and attributes before
// anything is read; a folder opens only with FILE_FLAG_BACKUP_SEMANTICS, and
// is then refused by its attributes.
OpenedHandle open_handle(const std::string& name, NameEncoding encoding) {
    std::wstring wide;
    // The system would take the name as ending at the first NUL: another file.
    if (name.find('\0') != std::string::npos || !wide_name(name, encoding, wide)) return failure(FileRead::cannot_open, 0);
    if (names_device(wide)) return failure(FileRead::not_regular_file, 0);
    Handle handle{CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    if (handle.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return failure(open_failure(error), static_cast<long>(error));
    }
    if (GetFileType(handle.get()) != FILE_TYPE_DISK) return failure(FileRead::not_regular_file, 0);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle.get(), &information)) return last_failure(FileRead::cannot_open);
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return failure(FileRead::not_regular_file, 0);
    const std::uint64_t size = static_cast<std::uint64_t>(information.nFileSizeHigh) << 32 | information.nFileSizeLow;
    return {FileRead::done, 0, std::move(handle), size};
}

}  // namespace

OpenedFile open_regular_file(const std::string& name, NameEncoding encoding) {
    OpenedHandle opened = open_handle(name, encoding);
    if (opened.outcome != FileRead::done) return {opened.outcome, opened.system_code, nullptr};
    // From here the descriptor owns the handle, and then the buffer's FILE
    // the descriptor: each closes what it owns, once.
    CrtDescriptor fd{_open_osfhandle(reinterpret_cast<intptr_t>(opened.handle.get()), _O_RDONLY | _O_BINARY)};
    if (fd.get() < 0) return {FileRead::cannot_open, errno, nullptr};
    static_cast<void>(opened.handle.release());
    auto buffer = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fd.get(), std::ios::in | std::ios::binary);
    if (!buffer->is_open()) return {FileRead::cannot_open, errno, nullptr};
    static_cast<void>(fd.release());
    return {FileRead::done, 0, std::move(buffer)};
}

FileRead read_regular_file(const std::string& name, NameEncoding encoding, std::uint64_t size_limit,
                           std::vector<unsigned char>& contents, long& system_code) {
    contents.clear();
    OpenedHandle opened = open_handle(name, encoding);
    system_code = opened.system_code;
    if (opened.outcome != FileRead::done) return opened.outcome;
    const auto read_some = [&](unsigned char* buffer, std::size_t capacity) -> long {
        DWORD count = 0;
        if (ReadFile(opened.handle.get(), buffer, static_cast<DWORD>(capacity), &count, nullptr)) return static_cast<long>(count);
        system_code = static_cast<long>(GetLastError());
        return -1;
    };
    return read_whole(read_some, opened.size, size_limit, contents);
}
