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
#include <map>

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

// The files of the install folder by their names inside the cabinet, and
// where each goes.
using CabinetTargets = std::map<std::wstring, std::wstring>;

UINT CALLBACK ExtractInstallFolder(PVOID context, UINT notification, UINT_PTR parameter, UINT_PTR) {
    const auto* targets = static_cast<const CabinetTargets*>(context);
    if (notification != SPFILENOTIFY_FILEINCABINET) {
        return NO_ERROR;
    }
    auto* file = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(parameter);
    const auto target = targets->find(file->NameInCabinet);
    if (target == targets->end() || target->second.size() >= MAX_PATH) {
        return FILEOP_SKIP;
    }
    target->second.copy(file->FullTargetName, target->second.size());
    file->FullTargetName[target->second.size()] = L'\0';
    return FILEOP_DOIT;
}

// What msiexec would put right in INSTALLFOLDER, which the helper points at
// the editor's folder; what goes into folders below it is left out.
void ExtractFromMsi(const std::wstring& package, const std::wstring& folder, TrialInstall& trial) {
    CabinetTargets targets;
    for (const MsiFile& file : ReadMsiFiles(package)) {
        if (file.Directory == InstallFolderDirectory &&
            file.Name.find_first_of(L"\\/:") == std::wstring::npos) {
            targets[file.Key] = folder + L"\\" + file.Name;
        }
    }
    const auto media = ReadMsiRows(package, L"SELECT `Cabinet` FROM `Media`");
    const std::wstring cabinet = media.empty() ? L"" : media[0][0];
    if (targets.empty()) {
        return; // nothing lands in the editor's folder
    }
    const std::string bytes =
        cabinet.starts_with(L'#') ? ReadMsiStream(package, cabinet.substr(1)) : std::string();
    if (bytes.empty()) {
        trial.Failure = L"the package holds no embedded cabinet with files for INSTALLFOLDER";
        return;
    }
    const std::wstring cabinetPath = folder + L"\\package.cab";
    std::ofstream(std::filesystem::path(cabinetPath), std::ios::binary) << bytes;
    if (!SetupIterateCabinetW(cabinetPath.c_str(), 0, ExtractInstallFolder, &targets)) {
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
    // Only where the helper reads and restarts it: a copy in a folder below
    // is not the editor users get.
    const std::wstring editor = folder + L"\\" + EditorFileName;
    if (std::filesystem::is_regular_file(editor, error)) {
        trial.EditorPath = editor;
    }
    return trial;
}
