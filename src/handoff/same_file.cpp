#include "handoff/handoff.h"

#include <cstring>
#include <optional>

namespace {

struct FileIdentity {
    ULONGLONG VolumeSerialNumber = 0;
    ULONGLONG FileIdLow = 0;
    ULONGLONG FileIdHigh = 0;
};

std::optional<FileIdentity> ReadFileIdentity(const std::wstring& path) {
    // Attributes only, sharing everything: the editor's own running image
    // must be openable while it runs.
    const UniqueHandle file = OwnHandle(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }

    FILE_ID_INFO idInfo = {};
    if (GetFileInformationByHandleEx(file.get(), FileIdInfo, &idInfo, sizeof(idInfo))) {
        FileIdentity identity;
        identity.VolumeSerialNumber = idInfo.VolumeSerialNumber;
        memcpy(&identity.FileIdLow, idInfo.FileId.Identifier, sizeof(ULONGLONG));
        memcpy(&identity.FileIdHigh, idInfo.FileId.Identifier + sizeof(ULONGLONG),
               sizeof(ULONGLONG));
        return identity;
    }
    // File systems and systems that do not know the 128-bit id answer one of
    // these two; the older 64-bit index identifies the file there.
    const DWORD error = GetLastError();
    if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_PARAMETER) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION handleInfo = {};
    if (!GetFileInformationByHandle(file.get(), &handleInfo)) {
        return std::nullopt;
    }
    FileIdentity identity;
    identity.VolumeSerialNumber = handleInfo.dwVolumeSerialNumber;
    identity.FileIdLow =
        (static_cast<ULONGLONG>(handleInfo.nFileIndexHigh) << 32) | handleInfo.nFileIndexLow;
    return identity;
}

} // namespace

bool IsSameFile(const std::wstring& first, const std::wstring& second) {
    const std::optional<FileIdentity> one = ReadFileIdentity(first);
    if (!one) {
        return false;
    }
    const std::optional<FileIdentity> other = ReadFileIdentity(second);
    return other && one->VolumeSerialNumber == other->VolumeSerialNumber &&
           one->FileIdLow == other->FileIdLow && one->FileIdHigh == other->FileIdHigh;
}
