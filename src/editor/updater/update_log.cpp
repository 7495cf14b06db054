#include "editor/updater/update_log.h"

#include "base/handle_owner.h"
#include "base/utf8_text.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>

namespace {

constexpr LONGLONG MostBytes = 64 << 10;
constexpr size_t KeptLines = 300;

std::mutex& LogLock() {
    static std::mutex lock;
    return lock;
}

std::string ReadAll(HANDLE file) {
    std::string bytes;
    char chunk[8192];
    for (DWORD read = 1; read > 0;) {
        if (!ReadFile(file, chunk, sizeof(chunk), &read, nullptr)) {
            break;
        }
        bytes.append(chunk, read);
    }
    return bytes;
}

} // namespace

void AppendUpdateLog(const std::wstring& path, const std::wstring& text) {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    char time[32];
    std::snprintf(time, sizeof(time), "%04u-%02u-%02uT%02u:%02u:%02uZ ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    std::string line = time + ToUtf8(text);
    for (char& character : line) {
        character = character == '\n' || character == '\r' ? ' ' : character;
    }
    line += "\n";
    const std::lock_guard<std::mutex> holding(LogLock());
    const UniqueHandle file =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, 0, nullptr));
    LARGE_INTEGER size = {};
    if (file.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.get(), &size)) {
        return;
    }
    DWORD written = 0;
    if (size.QuadPart + static_cast<LONGLONG>(line.size()) > MostBytes) {
        std::string kept = ReadAll(file.get()) + line;
        size_t start = kept.size();
        for (size_t lines = 0; lines <= KeptLines && start > 0; ++lines) {
            start = kept.rfind('\n', start - 1);
            start = start == std::string::npos ? 0 : start;
        }
        kept.erase(0, start == 0 ? 0 : start + 1);
        SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
        WriteFile(file.get(), kept.data(), static_cast<DWORD>(kept.size()), &written, nullptr);
        SetEndOfFile(file.get());
        return;
    }
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
