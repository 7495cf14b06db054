#include "tavo/editor_updater.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "editor/updater/status_argument.h"
#include "editor/updater/update_log.h"
#include "handoff/handoff.h"

#include <tlhelp32.h>

#include <filesystem>
#include <thread>

namespace tavo {

namespace {

bool EndsWith(const std::wstring& name, std::wstring_view end) {
    return name.size() >= end.size() &&
           EqualsIgnoringAsciiCase(std::wstring_view(name).substr(name.size() - end.size()), end);
}

bool IsPackage(const std::wstring& name) {
    return name.rfind(L"tavoPDF-", 0) == 0 && (EndsWith(name, L".msi") || EndsWith(name, L".exe"));
}

bool IsUpdateFile(const std::wstring& name) {
    return IsPackage(name) ||
           (name.rfind(L"tavoPDF-", 0) == 0 &&
            (EndsWith(name, L".partial") || EndsWith(name, L".partial.validator"))) ||
           EqualsIgnoringAsciiCase(name, L"tavoPDFUpdateHelper.exe");
}

// The helper's copy while it still runs: it holds the package and its own
// image until its end, a few seconds after it started this editor.
UniqueHandle RunningHelper(const std::wstring& image) {
    const UniqueHandle snapshot = OwnHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (!EqualsIgnoringAsciiCase(entry.szExeFile, L"tavoPDFUpdateHelper.exe")) {
            continue;
        }
        UniqueHandle process = OwnHandle(OpenProcess(
            SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        std::wstring path;
        DWORD ignored = 0;
        if (process && ReadProcessImagePath(process.get(), path, ignored) &&
            EqualsIgnoringAsciiCase(path, image)) {
            return process;
        }
    }
    return OwnHandle(nullptr);
}

// The package just installed becomes the next download's base, the one
// kept before it gone: in a folder of its own, so that no package left in
// the updates folder still means no download left. The newest one counts.
void KeepInstalledPackage(const std::wstring& folder) {
    std::error_code error;
    std::filesystem::path newest;
    std::filesystem::file_time_type newestTime;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::filesystem::file_time_type time = entry.last_write_time(error);
        if (entry.is_regular_file(error) && IsPackage(entry.path().filename().wstring()) &&
            (newest.empty() || time > newestTime)) {
            newest = entry.path();
            newestTime = time;
        }
    }
    if (newest.empty()) {
        return;
    }
    const std::filesystem::path base = std::filesystem::path(folder) / L"base";
    std::filesystem::remove_all(base, error);
    if (std::filesystem::create_directory(base, error)) {
        std::filesystem::rename(newest, base / newest.filename(), error);
    }
}

void RemoveUpdateFiles(const std::wstring& folder, const std::wstring& status, bool installed) {
    std::error_code error;
    if (installed) {
        KeepInstalledPackage(folder);
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (IsUpdateFile(entry.path().filename().wstring())) {
            std::filesystem::remove(entry.path(), error);
        }
    }
    if (installed) {
        DeleteFileW(status.c_str());
        DeleteFileW((status + L".msi.log").c_str());
    }
}

// The full form of a path on a drive, worked out without touching the file
// system; empty for server shares, devices, pipes and whatever else.
std::wstring FullLocalPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (path.empty() || needed == 0) {
        return std::wstring();
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return std::wstring();
    }
    full.resize(length);
    const bool drive = full.size() >= 3 && ((full[0] | 0x20) >= L'a' && (full[0] | 0x20) <= L'z') &&
                       full[1] == L':' && full[2] == L'\\';
    return drive ? full : std::wstring();
}

} // namespace

std::wstring DefaultUpdatesFolder() {
    std::wstring local(32768, L'\0');
    local.resize(GetEnvironmentVariableW(L"LOCALAPPDATA", local.data(), 32768));
    return local + L"\\Tavo PDF\\Updates";
}

std::optional<std::wstring> TakeStatusArgument(std::vector<std::wstring>& arguments) {
    const size_t count = arguments.size();
    if (count < 3 || arguments[count - 2] != UpdateStatusArgument) {
        return std::nullopt;
    }
    std::wstring status = arguments[count - 1];
    arguments.resize(count - 2);
    return status;
}

std::wstring OwnStatusFile(const std::wstring& argument, const std::wstring& updatesFolder) {
    std::wstring folder = FullLocalPath(updatesFolder);
    if (folder.empty() || argument.find(L'\0') != std::wstring::npos) {
        return std::wstring();
    }
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    const std::wstring status = FullLocalPath(argument);
    if (!EqualsIgnoringAsciiCase(status, folder + UpdateStatusFileName)) {
        return std::wstring();
    }
    // A helper that could not write it leaves none: an outcome of its own.
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(status.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? status : std::wstring();
    }
    constexpr DWORD NotAFile =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    return (data.dwFileAttributes & NotAFile) == 0 ? status : std::wstring();
}

UpdateRestart HandleUpdateRestart(int count, const wchar_t* const* arguments,
                                  const std::wstring& updatesFolder) {
    UpdateRestart restart;
    for (int index = 0; arguments != nullptr && index < count; ++index) {
        restart.Arguments.emplace_back(arguments[index] != nullptr ? arguments[index] : L"");
    }
    // Whatever the editor's own arguments are, they come back exactly.
    const std::optional<std::wstring> taken = TakeStatusArgument(restart.Arguments);
    if (!taken) {
        return restart;
    }
    // A link or a shortcut can put any path there: only the updates folder's
    // own status file is read, and only then is anything removed.
    const std::wstring status =
        OwnStatusFile(*taken, updatesFolder.empty() ? DefaultUpdatesFolder() : updatesFolder);
    if (status.empty()) {
        return restart;
    }
    const std::wstring folder = ParentFolder(status);
    restart.AfterUpdate = true;
    restart.Outcome = ReadUpdateOutcome(status);
    const bool installed = restart.Outcome.Kind == OutcomeKind::Installed ||
                           restart.Outcome.Kind == OutcomeKind::InstalledRestartAdvised ||
                           restart.Outcome.Kind == OutcomeKind::InstalledRestartFailed;
    const std::wstring log = status + L".msi.log";
    restart.StatusFile = installed ? L"" : status;
    restart.InstallerLog =
        !installed && GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES ? log : L"";
    AppendUpdateLog(folder + L"\\update log.txt", L"restarted after the update: " +
                                                      std::wstring(NameOf(restart.Outcome.Kind)) +
                                                      L" \"" + restart.Outcome.Text + L"\"");
    // While the helper still runs, the files go once it has ended, on a
    // thread of their own: the editor's start does not wait for it.
    UniqueHandle helper = RunningHelper(folder + L"\\tavoPDFUpdateHelper.exe");
    if (!helper) {
        RemoveUpdateFiles(folder, status, installed);
        return restart;
    }
    std::thread([helper = std::shared_ptr<void>(helper.release(), &CloseOwnedHandle), folder,
                 status, installed] {
        WaitForSingleObject(helper.get(), 60000);
        RemoveUpdateFiles(folder, status, installed);
    }).detach();
    return restart;
}

} // namespace tavo
