#include "base/system_libraries.h"

#include <optional>

namespace {

HMODULE LoadFromSystemFolder(const wchar_t* fileName) {
    return LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// GetProcAddress answers one generic function type; going through
// void (*)() makes the conversion to the real signature an explicit one.
template <typename Function>
bool FindFunction(HMODULE library, const char* name, Function& function) {
    function =
        reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
    return function != nullptr;
}

std::optional<ShellFunctions> LoadShell() {
    const HMODULE library = LoadFromSystemFolder(L"shell32.dll");
    ShellFunctions found = {};
    if (library == nullptr ||
        !FindFunction(library, "CommandLineToArgvW", found.CommandLineToArgv) ||
        !FindFunction(library, "ShellExecuteExW", found.ShellExecuteEx)) {
        return std::nullopt;
    }
    return found;
}

std::optional<UserFunctions> LoadUser() {
    const HMODULE library = LoadFromSystemFolder(L"user32.dll");
    UserFunctions found = {};
    if (library == nullptr || !FindFunction(library, "MessageBoxW", found.MessageBox)) {
        return std::nullopt;
    }
    return found;
}

std::optional<VersionFunctions> LoadVersion() {
    const HMODULE library = LoadFromSystemFolder(L"version.dll");
    VersionFunctions found = {};
    if (library == nullptr ||
        !FindFunction(library, "GetFileVersionInfoSizeW", found.GetFileVersionInfoSize) ||
        !FindFunction(library, "GetFileVersionInfoW", found.GetFileVersionInfo) ||
        !FindFunction(library, "VerQueryValueW", found.VerQueryValue)) {
        return std::nullopt;
    }
    return found;
}

std::optional<MsiFunctions> LoadMsi() {
    const HMODULE library = LoadFromSystemFolder(L"msi.dll");
    MsiFunctions found = {};
    if (library == nullptr || !FindFunction(library, "MsiOpenDatabaseW", found.OpenDatabase) ||
        !FindFunction(library, "MsiDatabaseOpenViewW", found.DatabaseOpenView) ||
        !FindFunction(library, "MsiViewExecute", found.ViewExecute) ||
        !FindFunction(library, "MsiViewFetch", found.ViewFetch) ||
        !FindFunction(library, "MsiRecordGetStringW", found.RecordGetString) ||
        !FindFunction(library, "MsiCloseHandle", found.CloseHandle)) {
        return std::nullopt;
    }
    return found;
}

std::optional<BcryptFunctions> LoadBcrypt() {
    const HMODULE library = LoadFromSystemFolder(L"bcrypt.dll");
    BcryptFunctions found = {};
    if (library == nullptr ||
        !FindFunction(library, "BCryptOpenAlgorithmProvider", found.OpenAlgorithmProvider) ||
        !FindFunction(library, "BCryptGetProperty", found.GetProperty) ||
        !FindFunction(library, "BCryptCreateHash", found.CreateHash) ||
        !FindFunction(library, "BCryptHashData", found.HashData) ||
        !FindFunction(library, "BCryptFinishHash", found.FinishHash) ||
        !FindFunction(library, "BCryptDestroyHash", found.DestroyHash) ||
        !FindFunction(library, "BCryptCloseAlgorithmProvider", found.CloseAlgorithmProvider)) {
        return std::nullopt;
    }
    return found;
}

} // namespace

// Loaded on first use and kept: the module is never freed while the run
// may still call into it.
const ShellFunctions* ShellLibrary() {
    static const std::optional<ShellFunctions> loaded = LoadShell();
    return loaded ? &*loaded : nullptr;
}

const UserFunctions* UserLibrary() {
    static const std::optional<UserFunctions> loaded = LoadUser();
    return loaded ? &*loaded : nullptr;
}

const VersionFunctions* VersionLibrary() {
    static const std::optional<VersionFunctions> loaded = LoadVersion();
    return loaded ? &*loaded : nullptr;
}

const MsiFunctions* MsiLibrary() {
    static const std::optional<MsiFunctions> loaded = LoadMsi();
    return loaded ? &*loaded : nullptr;
}

const BcryptFunctions* BcryptLibrary() {
    static const std::optional<BcryptFunctions> loaded = LoadBcrypt();
    return loaded ? &*loaded : nullptr;
}
