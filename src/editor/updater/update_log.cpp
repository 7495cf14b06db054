#include "editor/updater/update_log.h"

#include "base/handle_owner.h"
#include "base/utf8_text.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

namespace {

constexpr LONGLONG MostBytes = 64 << 10;
constexpr size_t KeptBytes = 32 << 10;
constexpr DWORD LockWaitMs = 2000;

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

// One writer at a time across the editor's processes: a mutex named after
// the log's path (case folded, as Windows compares paths).
UniqueHandle LockLog(const std::wstring& path) {
    std::wstring folded = path;
    CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\TavoPDFUpdateLog-%016llx",
                  static_cast<unsigned long long>(std::hash<std::wstring>()(folded)));
    UniqueHandle lock = OwnHandle(CreateMutexW(nullptr, FALSE, name));
    const DWORD waited = lock ? WaitForSingleObject(lock.get(), LockWaitMs) : WAIT_FAILED;
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        return OwnHandle(nullptr);
    }
    return lock;
}

std::string LogLine(const std::wstring& text) {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    char time[32];
    std::snprintf(time, sizeof(time), "%04u-%02u-%02uT%02u:%02u:%02uZ ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    size_t kept = text.size() < LogLineLimit ? text.size() : LogLineLimit;
    if (kept < text.size() && kept > 0 && IS_HIGH_SURROGATE(text[kept - 1])) {
        --kept; // never half a character
    }
    std::string line = time + ToUtf8(text.substr(0, kept)) + (kept < text.size() ? " [cut]" : "");
    for (char& character : line) {
        character = character == '\n' || character == '\r' ? ' ' : character;
    }
    return line + "\n";
}

// Appends the line, the oldest lines going first when the file would pass its bound.
void AppendLine(const std::wstring& path, const std::string& line) {
    const UniqueHandle file = OwnHandle(CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, 0, nullptr));
    LARGE_INTEGER size = {};
    if (file.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.get(), &size)) {
        return;
    }
    DWORD written = 0;
    if (size.QuadPart + static_cast<LONGLONG>(line.size()) <= MostBytes) {
        SetFilePointer(file.get(), 0, nullptr, FILE_END);
        WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    // The newest whole lines that fit, then this one.
    std::string kept = ReadAll(file.get());
    size_t start = kept.size() > KeptBytes ? kept.size() - KeptBytes : 0;
    if (start > 0) {
        start = kept.find('\n', start - 1);
        start = start == std::string::npos ? kept.size() : start + 1;
    }
    kept = kept.substr(start) + line;
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    WriteFile(file.get(), kept.data(), static_cast<DWORD>(kept.size()), &written, nullptr);
    SetEndOfFile(file.get());
}

} // namespace

void AppendUpdateLog(const std::wstring& path, const std::wstring& text) {
    const std::string line = LogLine(text);
    const UniqueHandle lock = LockLog(path);
    if (lock) {
        AppendLine(path, line);
        ReleaseMutex(lock.get());
    }
}
