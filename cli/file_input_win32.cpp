#include "file_input.h"

#include <windows.h>

namespace {

std::wstring wide_path(const std::string& utf8) {
    if (utf8.empty())
        return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

struct FileHandle {
    HANDLE handle;
    ~FileHandle() { CloseHandle(handle); }
};

}  // namespace

FileRead read_regular_file(const std::string& path, std::uint64_t size_limit,
                           std::vector<unsigned char>& contents, long& system_code) {
    contents.clear();
    system_code = 0;
    std::wstring wide = wide_path(path);
    if (wide.empty() && !path.empty()) {
        system_code = static_cast<long>(GetLastError());
        return FileRead::cannot_open;
    }
    // A pipe or a device is recognised by its attributes and type before
    // anything is read; a folder needs FILE_FLAG_BACKUP_SEMANTICS to open.
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD failure = GetLastError();
        system_code = static_cast<long>(failure);
        if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND)
            return FileRead::not_found;
        return failure == ERROR_ACCESS_DENIED ? FileRead::access_denied : FileRead::cannot_open;
    }
    FileHandle file{handle};
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return FileRead::not_regular_file;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) {
        system_code = static_cast<long>(GetLastError());
        return FileRead::read_failed;
    }
    if (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return FileRead::not_regular_file;
    std::uint64_t size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (size > size_limit)
        return FileRead::too_large;
    contents.reserve(static_cast<std::size_t>(size));
    unsigned char chunk[65536];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(handle, chunk, sizeof chunk, &count, nullptr)) {
            system_code = static_cast<long>(GetLastError());
            contents.clear();
            return FileRead::read_failed;
        }
        if (count == 0)
            return FileRead::done;
        if (contents.size() + count > size_limit) {
            contents.clear();
            return FileRead::too_large;
        }
        contents.insert(contents.end(), chunk, chunk + count);
    }
}
