#include "release/trial_install.h"

#include "app/update_request.h"
#include "base/handle_owner.h"
#include "base/paths.h"
#include "install/installer_command_line.h"
#include "release/msi_tables.h"

#include <setupapi.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>

namespace {

constexpr DWORD TrialLimitMs = 600000;

// Started as a user starts a program, so that a setup that asks for
// administrator rights gets its elevation prompt; hidden, in the folder.
void RunSetup(const std::wstring& package, const std::wstring& folder, TrialInstall& trial) {
    const std::wstring parameters = BuildInstallerParameters(false, package, folder, L"");
    SHELLEXECUTEINFOW start = {};
    start.cbSize = sizeof(start);
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    start.lpFile = package.c_str();
    start.lpParameters = parameters.c_str();
    start.lpDirectory = folder.c_str();
    start.nShow = SW_HIDE;
    const UniqueHandle setup = OwnHandle(ShellExecuteExW(&start) ? start.hProcess : nullptr);
    if (!setup) {
        trial.Failure = L"the setup could not be started";
    } else if (WaitForSingleObject(setup.get(), TrialLimitMs) != WAIT_OBJECT_0 ||
               !GetExitCodeProcess(setup.get(), &trial.ExitCode)) {
        trial.Failure = L"the setup did not end within ten minutes";
    }
}

struct CabinetTarget {
    std::wstring FileKey; // the editor's name inside the cabinet: its File table key
    std::wstring Path;    // where it goes
};

UINT CALLBACK ExtractEditor(PVOID context, UINT notification, UINT_PTR parameter, UINT_PTR) {
    const auto* target = static_cast<const CabinetTarget*>(context);
    if (notification != SPFILENOTIFY_FILEINCABINET) {
        return NO_ERROR;
    }
    auto* file = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(parameter);
    if (target->FileKey != file->NameInCabinet || target->Path.size() >= MAX_PATH) {
        return FILEOP_SKIP;
    }
    target->Path.copy(file->FullTargetName, target->Path.size());
    file->FullTargetName[target->Path.size()] = L'\0';
    return FILEOP_DOIT;
}

void ExtractFromMsi(const std::wstring& package, const std::wstring& folder, TrialInstall& trial) {
    const std::optional<MsiEditorFile> editor = ReadMsiEditorFile(package);
    CabinetTarget target;
    target.FileKey = editor ? editor->Key : L"";
    const auto media = ReadMsiRows(package, L"SELECT `Cabinet` FROM `Media`");
    const std::wstring cabinet = media.empty() ? L"" : media[0][0];
    const std::string bytes = cabinet.starts_with(L'#') && !target.FileKey.empty()
                                  ? ReadMsiStream(package, cabinet.substr(1))
                                  : std::string();
    if (bytes.empty()) {
        trial.Failure = L"the package holds no embedded cabinet with tavoPDFEditor.exe";
        return;
    }
    const std::wstring cabinetPath = folder + L"\\package.cab";
    std::ofstream(std::filesystem::path(cabinetPath), std::ios::binary) << bytes;
    target.Path = folder + L"\\" + EditorFileName;
    if (!SetupIterateCabinetW(cabinetPath.c_str(), 0, ExtractEditor, &target)) {
        trial.Failure = L"its embedded cabinet cannot be read";
    }
    DeleteFileW(cabinetPath.c_str());
}

} // namespace

TrialInstall RunTrialInstall(const std::wstring& package, bool isMsi, const std::wstring& folder) {
    TrialInstall trial;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_empty(folder, error) || error) {
        trial.Failure = L"the trial folder is not an empty folder";
        return trial;
    }
    if (isMsi) {
        ExtractFromMsi(package, folder, trial);
    } else {
        RunSetup(package, folder, trial);
    }
    for (const auto& file : std::filesystem::recursive_directory_iterator(folder, error)) {
        if (EqualsIgnoringAsciiCase(file.path().filename().wstring(), EditorFileName)) {
            trial.EditorPath = file.path().wstring();
        }
    }
    return trial;
}
