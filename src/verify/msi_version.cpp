#include "verify/file_version.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdint>
#include <memory>

namespace {

constexpr DWORD ProductVersionBufferLength = 128;

// MSI handles are numbers, 0 meaning none; they ride in a unique_ptr as
// pointer-sized values so that each is closed once, on every path.
void CloseMsiHandle(void* handle) {
    MsiCloseHandle(static_cast<MSIHANDLE>(reinterpret_cast<std::uintptr_t>(handle)));
}
using UniqueMsiHandle = std::unique_ptr<void, decltype(&CloseMsiHandle)>;

UniqueMsiHandle OwnMsiHandle(MSIHANDLE handle) {
    return UniqueMsiHandle(reinterpret_cast<void*>(static_cast<std::uintptr_t>(handle)),
                           &CloseMsiHandle);
}

MSIHANDLE Raw(const UniqueMsiHandle& owner) {
    return static_cast<MSIHANDLE>(reinterpret_cast<std::uintptr_t>(owner.get()));
}

} // namespace

std::wstring ReadMsiProductVersion(const std::wstring& packagePath) {
    // Owners in reverse release order: record, then view, then database.
    MSIHANDLE rawDatabase = 0;
    const UINT opened = MsiOpenDatabaseW(packagePath.c_str(), MSIDBOPEN_READONLY, &rawDatabase);
    const UniqueMsiHandle database = OwnMsiHandle(rawDatabase);
    if (opened != ERROR_SUCCESS) {
        return std::wstring();
    }

    MSIHANDLE rawView = 0;
    const UINT viewOpened = MsiDatabaseOpenViewW(
        Raw(database), L"SELECT `Value` FROM `Property` WHERE `Property`='ProductVersion'",
        &rawView);
    const UniqueMsiHandle view = OwnMsiHandle(rawView);
    if (viewOpened != ERROR_SUCCESS || MsiViewExecute(Raw(view), 0) != ERROR_SUCCESS) {
        return std::wstring();
    }

    MSIHANDLE rawRecord = 0;
    const UINT fetched = MsiViewFetch(Raw(view), &rawRecord);
    const UniqueMsiHandle record = OwnMsiHandle(rawRecord);
    if (fetched != ERROR_SUCCESS) {
        return std::wstring();
    }

    wchar_t value[ProductVersionBufferLength] = {};
    DWORD length = ProductVersionBufferLength;
    if (MsiRecordGetStringW(Raw(record), 1, value, &length) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return std::wstring(value);
}
