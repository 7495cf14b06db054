#include "verify/file_version.h"

#include "base/system_libraries.h"

#include <cstdint>
#include <memory>

namespace {

constexpr DWORD ProductVersionBufferLength = 128;

// MSI handles are numbers, 0 meaning none; they ride in a unique_ptr as
// pointer-sized values so that each is closed once, on every path.
// Only called for handles msi.dll gave out, so the library is loaded.
void CloseMsiHandle(void* handle) {
    MsiLibrary()->CloseHandle(static_cast<MSIHANDLE>(reinterpret_cast<std::uintptr_t>(handle)));
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
    // msi.dll is loaded only here, for MSI packages; without it there is no
    // package version.
    const MsiFunctions* msi = MsiLibrary();
    if (msi == nullptr) {
        return std::wstring();
    }
    // Owners in reverse release order: record, then view, then database.
    MSIHANDLE rawDatabase = 0;
    const UINT opened = msi->OpenDatabase(packagePath.c_str(), MSIDBOPEN_READONLY, &rawDatabase);
    const UniqueMsiHandle database = OwnMsiHandle(rawDatabase);
    if (opened != ERROR_SUCCESS) {
        return std::wstring();
    }

    MSIHANDLE rawView = 0;
    const UINT viewOpened = msi->DatabaseOpenView(
        Raw(database), L"SELECT `Value` FROM `Property` WHERE `Property`='ProductVersion'",
        &rawView);
    const UniqueMsiHandle view = OwnMsiHandle(rawView);
    if (viewOpened != ERROR_SUCCESS || msi->ViewExecute(Raw(view), 0) != ERROR_SUCCESS) {
        return std::wstring();
    }

    MSIHANDLE rawRecord = 0;
    const UINT fetched = msi->ViewFetch(Raw(view), &rawRecord);
    const UniqueMsiHandle record = OwnMsiHandle(rawRecord);
    if (fetched != ERROR_SUCCESS) {
        return std::wstring();
    }

    wchar_t value[ProductVersionBufferLength] = {};
    DWORD length = ProductVersionBufferLength;
    if (msi->RecordGetString(Raw(record), 1, value, &length) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return std::wstring(value);
}
