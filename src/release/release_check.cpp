#include "release/release_check.h"

#include "app/update_request.h"
#include "base/handle_owner.h"
#include "base/outcomes.h"
#include "base/paths.h"
#include "editor/handover/package_signer.h"
#include "release/imported_libraries.h"
#include "release/msi_tables.h"
#include "release/trial_install.h"
#include "verify/checksum.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

#include <msidefs.h>

#include <algorithm>
#include <cwchar>
#include <exception>
#include <filesystem>

namespace {

constexpr wchar_t Usage[] =
    L"usage: tavoPDFReleaseCheck <package> <msi|exe> <target version> [--publisher-key HEX]... "
    L"[--installed-version V] [--trial-install FOLDER]\n";

struct Request {
    std::wstring Package;
    bool IsMsi = false;
    std::wstring Target;
    std::vector<std::wstring> PublisherKeys;
    std::wstring InstalledVersion;
    std::wstring TrialFolder;
};

// What the command line gets wrong, or empty.
std::wstring ReadRequest(const std::vector<std::wstring>& arguments, Request& request) {
    if (arguments.size() < 3) {
        return L"give the package, its kind and the target version";
    }
    // Absolute: a trial's installer runs in the trial's folder.
    std::error_code error;
    request.Package = WithBackslashes(std::filesystem::absolute(arguments[0], error).wstring());
    request.IsMsi = arguments[1] == PackageKindMsi;
    request.Target = arguments[2];
    if (!request.IsMsi && arguments[1] != PackageKindExe) {
        return L"the kind is \"msi\" or \"exe\"";
    }
    if (!ParseVersion(request.Target)) {
        return L"the target version is 2 to 4 numbers of at most 65535";
    }
    for (size_t index = 3; index < arguments.size(); index += 2) {
        const std::wstring& option = arguments[index];
        const std::wstring value = index + 1 < arguments.size() ? arguments[index + 1] : L"";
        if (option == L"--publisher-key" && IsChecksumText(value)) {
            request.PublisherKeys.push_back(value);
        } else if (option == L"--installed-version" && ParseVersion(value)) {
            request.InstalledVersion = value;
        } else if (option == L"--trial-install" && !value.empty() &&
                   (!std::filesystem::exists(value, error) ||
                    std::filesystem::is_empty(value, error))) {
            request.TrialFolder =
                WithBackslashes(std::filesystem::absolute(value, error).wstring());
        } else {
            return option + L" \"" + value +
                   L"\": not an option with a value it takes (a key is "
                   L"64 hex digits, a trial folder empty)";
        }
    }
    return std::wstring();
}

struct Report {
    std::wstring Text;
    bool Refused = false;
    bool Unopened = false; // the package itself could not be opened: nothing judged
};

void Ok(Report& report, const std::wstring& found) {
    report.Text += L"ok       " + found + L"\n";
}

void Note(Report& report, const std::wstring& found) {
    report.Text += L"note     " + found + L"\n";
}

// What users would get: the helper's outcome text and exit code.
std::wstring UsersGet(const std::wstring& text, int exitCode) {
    return L"users get \"" + text + L"\" (exit code " + std::to_wstring(exitCode) + L")";
}

void Refuse(Report& report, const std::wstring& found, const std::wstring& usersGet,
            const std::wstring& change) {
    report.Refused = true;
    report.Text += L"refused  " + found + L"; " + usersGet + L"; change: " + change + L"\n";
}

std::wstring AfterExit(const std::wstring& text) {
    return UsersGet(text, ExitFailedAfterEditorExit) + L", after the editor has exited";
}

// Size and SHA-256, read as the helper's checksum step reads them.
std::wstring CheckSize(Report& report, HANDLE package, long long& bytes) {
    LARGE_INTEGER size = {};
    GetFileSizeEx(package, &size);
    bytes = size.QuadPart;
    const std::wstring found = L"size: " + std::to_wstring(bytes) + L" bytes";
    const std::wstring checksum = PackageChecksum(package);
    if (checksum.empty()) {
        Refuse(report, found + L", not 1 to 2147483648, or not readable to its end",
               UsersGet(TextChecksumFailed, ExitPackageRefused),
               L"ship the whole package, at most 2 GiB");
    } else {
        Ok(report, found + L", within the helper's 2 GiB; SHA-256 " + checksum);
    }
    return checksum;
}

// The package's identity and version, by the helper's own readers and rules.
void CheckIdentity(Report& report, const Request& request) {
    const std::wstring users = UsersGet(TextPackageMismatch, ExitPackageRefused);
    const std::wstring& target = request.Target;
    const std::wstring description = request.IsMsi ? L"" : ReadFileDescription(request.Package);
    if (!request.IsMsi && description != SetupDescription) {
        Refuse(report,
               L"identity: FileDescription \"" + description + L"\", not \"" + SetupDescription +
                   L"\"",
               users, L"VIAddVersionKey /LANG=1033 \"FileDescription\" \"Tavo PDF Setup\"");
        return;
    }
    const std::wstring version =
        request.IsMsi ? ReadMsiProductVersion(request.Package) : ReadFileVersion(request.Package);
    const std::wstring what = request.IsMsi ? L"ProductVersion " : L"file version ";
    if (!IsSameVersion(target, version)) {
        Refuse(report,
               L"identity: " + what + (version.empty() ? L"unreadable" : version) +
                   L", not the target " + target,
               users,
               request.IsMsi ? L"Product/@Version=\"" + target + L"\""
                             : L"VIFileVersion \"" + target + L"\" (the fixed file version)");
    } else {
        Ok(report, std::wstring(L"identity: ") + (request.IsMsi ? L"" : L"\"Tavo PDF Setup\", ") +
                       what + version + L", the target " + target);
    }
}

// Windows Installer finds the product to upgrade by the first three fields
// of ProductVersion alone: 2.0.0.1 does not replace 2.0.0.0.
void CheckInstalledVersion(Report& report, const Request& request) {
    const std::wstring& installed = request.InstalledVersion;
    const std::optional<VersionNumber> target = ParseVersion(request.Target);
    const std::optional<VersionNumber> before = ParseVersion(installed);
    if (installed.empty()) {
        return;
    } else if (!IsNewerVersion(request.Target, installed)) {
        Refuse(report, L"installed version: the target is not newer than " + installed,
               UsersGet(TextInstalledNotOlder, ExitPackageRefused), L"a target above " + installed);
    } else if (request.IsMsi && target && before &&
               std::equal(target->begin(), target->end() - 1, before->begin())) {
        Refuse(report,
               L"installed version: the target differs from " + installed +
                   L" only in the fourth field, which Windows Installer ignores when it looks "
                   L"for the product to upgrade, so both stay registered",
               UsersGet(TextInstalled, ExitSuccess) + L" and two products installed",
               L"a target above " + installed + L" in its first three fields");
    } else {
        Ok(report, L"installed version: the target is newer than " + installed);
    }
}

// From the package's own tables, read-only: where msiexec installs, for whom,
// whether the old product goes, and which editor version lands.
void CheckMsiTables(Report& report, const Request& request, const std::optional<MsiFile>& editor) {
    const std::wstring& package = request.Package;
    const std::wstring mismatch = AfterExit(TextInstalledVersionMismatch);
    const std::wstring installFolder = InstallFolderDirectory;
    if (ReadMsiRows(package, L"SELECT `Directory` FROM `Directory` WHERE `Directory`='" +
                                 installFolder + L"'")
            .empty()) {
        Refuse(report,
               L"install folder: no directory INSTALLFOLDER, so msiexec installs into "
               L"the package's default folder",
               mismatch, L"<Directory Id=\"INSTALLFOLDER\"> for the editor's folder");
    } else if (editor && editor->Directory != installFolder) {
        // The helper reads and restarts <install folder>\tavoPDFEditor.exe.
        Refuse(report,
               L"install folder: tavoPDFEditor.exe's component installs into directory " +
                   editor->Directory +
                   L", not INSTALLFOLDER itself, so the editor the helper reads and restarts "
                   L"is not replaced",
               mismatch, L"the editor's <Component> right in <Directory Id=\"INSTALLFOLDER\">");
    } else {
        Ok(report, L"install folder: tavoPDFEditor.exe goes into directory INSTALLFOLDER, which "
                   L"the helper points at the editor's folder");
    }
    const auto allUsers =
        ReadMsiRows(package, L"SELECT `Value` FROM `Property` WHERE `Property`='ALLUSERS'");
    if (allUsers.empty() || allUsers[0][0] != L"1") {
        Refuse(report,
               L"scope: per user (ALLUSERS is not 1), so the elevated msiexec installs "
               L"for the administrator",
               mismatch, L"<Package InstallScope=\"perMachine\"/>");
    } else {
        Ok(report, L"scope: per machine");
    }
    const auto upgradeCode =
        ReadMsiRows(package, L"SELECT `Value` FROM `Property` WHERE `Property`='UpgradeCode'");
    bool removesEarlier = !upgradeCode.empty() &&
                          !ReadMsiRows(package, L"SELECT `Action` FROM `InstallExecuteSequence` "
                                                L"WHERE `Action`='RemoveExistingProducts'")
                               .empty();
    bool upgradeRow = false;
    for (const auto& row :
         ReadMsiRows(package, L"SELECT `UpgradeCode`, `Attributes` FROM `Upgrade`")) {
        upgradeRow =
            upgradeRow ||
            (!upgradeCode.empty() && EqualsIgnoringAsciiCase(row[0], upgradeCode[0][0]) &&
             (std::wcstoul(row[1].c_str(), nullptr, 10) & msidbUpgradeAttributesOnlyDetect) == 0);
    }
    if (!removesEarlier || !upgradeRow) {
        Refuse(report,
               L"upgrade: no Upgrade row for its UpgradeCode removes earlier versions, so "
               L"the old product stays registered beside the new one after every update",
               UsersGet(TextInstalled, ExitSuccess) + L" and two products installed",
               L"<MajorUpgrade DowngradeErrorMessage=\"...\"/>");
    } else {
        Ok(report, L"upgrade: earlier versions of its UpgradeCode are removed");
    }
}

// The editor the package installs, from the File table; without its version
// there (wixl leaves it empty), only a trial install can tell.
void CheckMsiEditorFile(Report& report, const Request& request,
                        const std::optional<MsiFile>& editor) {
    if (!editor) {
        Refuse(report, L"installed editor: no tavoPDFEditor.exe in the File table",
               AfterExit(TextInstalledVersionMismatch), L"install the editor as tavoPDFEditor.exe");
    } else if (editor->Version.empty()) {
        if (request.TrialFolder.empty()) {
            Note(report,
                 L"installed editor: the File table leaves tavoPDFEditor.exe's version empty, "
                 L"so it cannot be judged from the tables: run with --trial-install FOLDER");
        }
    } else if (!IsSameVersion(request.Target, editor->Version)) {
        Refuse(report,
               L"installed editor: the File table gives tavoPDFEditor.exe " + editor->Version +
                   L", not the target " + request.Target,
               AfterExit(TextInstalledVersionMismatch),
               L"build the package with the editor at " + request.Target);
    } else {
        Ok(report, L"installed editor: the File table gives tavoPDFEditor.exe " + editor->Version);
    }
}

// Every library the installed editor imports must be the system's or lie
// beside it: the loader looks in the editor's folder, and an update that
// removes the old product removes the old product's libraries too.
void CheckLibraries(Report& report, const std::wstring& editor) {
    const std::optional<std::vector<std::wstring>> missing = FindMissingLibraries(editor);
    if (!missing) {
        Refuse(report,
               L"libraries: the installed tavoPDFEditor.exe, or a library beside it, is not a "
               L"whole Windows program",
               AfterExit(TextRestartFailed), L"install the editor as it is built");
    } else if (!missing->empty()) {
        std::wstring names;
        for (const std::wstring& name : *missing) {
            names += (names.empty() ? L"" : L", ") + name;
        }
        Refuse(report,
               L"libraries: the installed tavoPDFEditor.exe needs " + names +
                   L", neither the system's nor beside it in the install folder, so it cannot "
                   L"start",
               AfterExit(TextRestartFailed) + L", and the editor cannot start at all",
               L"install " + names + L" beside tavoPDFEditor.exe, in INSTALLFOLDER");
    } else {
        Ok(report,
           L"libraries: every library tavoPDFEditor.exe needs is the system's or beside it");
    }
}

// Installs into the scratch folder as the helper would, and reads the
// installed editor's version as the helper does after its installer.
void CheckTrialInstall(Report& report, const Request& request) {
    const TrialInstall trial = RunTrialInstall(request.Package, request.IsMsi, request.TrialFolder);
    const std::wstring version = trial.EditorPath.empty() ? L"" : ReadFileVersion(trial.EditorPath);
    if (!trial.Failure.empty()) {
        Refuse(report, L"trial install: " + trial.Failure,
               request.IsMsi ? AfterExit(TextInstalledVersionMismatch)
                             : AfterExit(TextCannotStartInstaller),
               L"a package that installs the editor silently");
    } else if (trial.ExitCode != 0) {
        Refuse(report,
               L"trial install: the installer ended with " + std::to_wstring(trial.ExitCode),
               AfterExit(TextInstallationFailed + std::to_wstring(trial.ExitCode)),
               L"a package that installs silently and ends with 0");
    } else if (!IsSameVersion(request.Target, version)) {
        Refuse(report,
               trial.EditorPath.empty()
                   ? L"trial install: nothing installed as " + request.TrialFolder +
                         L"\\tavoPDFEditor.exe, where the helper reads and restarts the editor"
                   : L"trial install: the installed tavoPDFEditor.exe carries " +
                         (version.empty() ? L"no readable version" : version) +
                         L", not the target " + request.Target,
               AfterExit(TextInstalledVersionMismatch),
               L"build the package with the editor at " + request.Target);
    } else {
        Ok(report, L"trial install: " + trial.EditorPath + L" carries " + version);
    }
    if (!trial.EditorPath.empty()) {
        CheckLibraries(report, trial.EditorPath);
    }
}

std::wstring DescribeSigner(const PackageSigner& signer) {
    switch (signer.State) {
    case SignatureState::Signed:
        return L"signed by \"" + signer.Subject + L"\", key " + signer.Key +
               (signer.ChainTrusted ? L", chain trusted for code signing"
                                    : L", chain not trusted for code signing");
    case SignatureState::Unsigned:
        return L"not signed";
    case SignatureState::Mismatched:
        return L"its signature does not match its contents";
    case SignatureState::Unreadable:
        break;
    }
    return L"its signature cannot be checked";
}

// True when the signer is accepted: one of the keys given or, with none
// given, a signer whose chain is trusted for code signing.
bool CheckSignature(Report& report, const Request& request, const PackageSigner& signer) {
    const std::wstring found = L"signature: " + DescribeSigner(signer);
    const std::wstring refusal = SignerRefusal(signer, request.PublisherKeys);
    if (request.PublisherKeys.empty()) {
        if (signer.State == SignatureState::Signed && signer.ChainTrusted) {
            Ok(report, found + L" (an editor pins that key)");
            return true;
        }
        Note(report, found + L": an editor that pins its publisher's keys refuses it");
    } else if (!refusal.empty()) {
        Refuse(report, found,
               L"the editor refuses to start the update: \"" + refusal + L"\" (it keeps running)",
               L"sign with one of the keys the editor pins, or pin the new key in it first");
    } else {
        Ok(report, found + L", one of the publisher's keys");
        return true;
    }
    return false;
}

// Every check on the open package, in order; the JSON line only for a
// package that passes them all, with the key only of a signer accepted.
void JudgePackage(Report& checks, const Request& request) {
    const UniqueHandle package = OpenPackageFile(request.Package);
    if (package.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        checks.Unopened = true;
        Refuse(checks,
               L"package: it cannot be opened (Windows error " + std::to_wstring(error) +
                   L"), so nothing else is judged",
               UsersGet(TextChecksumFailed, ExitPackageRefused),
               L"give the path of the package as it is built");
        return;
    }
    long long size = 0;
    const std::wstring checksum = CheckSize(checks, package.get(), size);
    CheckIdentity(checks, request);
    CheckInstalledVersion(checks, request);
    if (request.IsMsi) {
        const std::optional<MsiFile> editor = FindMsiEditorFile(ReadMsiFiles(request.Package));
        CheckMsiTables(checks, request, editor);
        CheckMsiEditorFile(checks, request, editor);
    } else if (request.TrialFolder.empty()) {
        Note(checks, L"installed editor: a setup's editor cannot be read without running it: run "
                     L"with --trial-install FOLDER");
    }
    if (!request.TrialFolder.empty()) {
        CheckTrialInstall(checks, request);
    }
    SetFilePointer(package.get(), 0, nullptr, FILE_BEGIN);
    const PackageSigner signer = ReadPackageSigner(package.get(), request.Package);
    const bool accepted = CheckSignature(checks, request, signer);
    if (checks.Refused) {
        return;
    }
    // What the editor's update feed needs, in one line.
    checks.Text += L"{\"version\":\"" + request.Target + L"\",\"kind\":\"" +
                   (request.IsMsi ? PackageKindMsi : PackageKindExe) + L"\",\"sha256\":\"" +
                   checksum + L"\",\"size\":" + std::to_wstring(size) +
                   (accepted ? L",\"publisherKey\":\"" + signer.Key + L"\"" : L"") + L"}\n";
}

} // namespace

int RunReleaseCheck(const std::vector<std::wstring>& arguments, std::wstring& report) {
    Request request;
    Report checks;
    try {
        const std::wstring fault = ReadRequest(arguments, request);
        if (!fault.empty()) {
            report = fault + L"\n" + Usage;
            return 2;
        }
        JudgePackage(checks, request);
    } catch (const std::exception& error) {
        // A folder that cannot be read, memory that ran out: a line like any other.
        const std::string what = error.what();
        report = checks.Text + L"refused  the check could not finish: " +
                 std::wstring(what.begin(), what.end()) + L"\n";
        return 2;
    }
    report = checks.Text;
    return checks.Unopened ? 2 : checks.Refused ? 1 : 0;
}
