#include "report/status_file.h"

#include "base/handle_owner.h"

#include <vector>

void WriteStatusFile(const std::wstring& statusFilePath, const std::wstring& text) {
    // Read sharing only: a reader may look while we write, nobody else may
    // write or delete the file until it is closed.
    UniqueHandle file =
        OwnHandle(CreateFileW(statusFilePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return;
    }
    const int textLength = static_cast<int>(text.size());
    const int byteCount =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), textLength, nullptr, 0, nullptr, nullptr);
    if (byteCount <= 0) {
        return;
    }
    std::vector<char> bytes(static_cast<size_t>(byteCount), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), textLength, bytes.data(), byteCount, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(byteCount), &written, nullptr);
}

std::wstring FormatCodeMessage(const std::wstring& prefix, std::uint32_t code) {
    return prefix + std::to_wstring(code);
}
