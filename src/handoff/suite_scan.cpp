#include "handoff/suite_scan.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "handoff/handoff.h"

#include <tlhelp32.h>

namespace {

// Opens and inspects one process with a suite name; true when it counts.
bool CheckSuiteProcess(DWORD processId, const std::wstring& installFolder) {
    const UniqueHandle process =
        OwnHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return SuiteProcessCounts(false, nullptr, installFolder);
    }
    std::wstring image;
    DWORD ignored = 0;
    const bool read = ReadProcessImagePath(process.get(), image, ignored);
    return SuiteProcessCounts(true, read ? &image : nullptr, installFolder);
}

} // namespace

bool IsSuiteExecutableName(const std::wstring& fileName) {
    for (const wchar_t* name : SuiteExecutableNames) {
        if (EqualsIgnoringAsciiCase(fileName, name)) {
            return true;
        }
    }
    return false;
}

bool SuiteProcessCounts(bool opened, const std::wstring* imagePath,
                        const std::wstring& installFolder) {
    if (!opened || imagePath == nullptr) {
        return true;
    }
    return EqualsIgnoringAsciiCase(ParentFolder(*imagePath), installFolder);
}

bool IsSuiteApplicationRunning(const std::wstring& installFolder, std::uint32_t editorProcessId) {
    const UniqueHandle snapshot = OwnHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) {
        return true;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) {
        return true;
    }

    const DWORD ownProcessId = GetCurrentProcessId();
    do {
        if (entry.th32ProcessID == editorProcessId || entry.th32ProcessID == ownProcessId ||
            !IsSuiteExecutableName(entry.szExeFile)) {
            continue;
        }
        if (CheckSuiteProcess(entry.th32ProcessID, installFolder)) {
            return true;
        }
    } while (Process32NextW(snapshot.get(), &entry));
    return false;
}
