#include "editor/handover/helper_launch.h"

#include "app/update_request.h"
#include "base/paths.h"
#include "handoff/handoff.h"
#include "verify/checksum.h"
#include "verify/version_compare.h"

namespace tavo {

namespace {

// Each rule the helper refuses silently, told as "<argument>: <rule broken>".
const wchar_t* DescribeBrokenRule(RequestRule rule) {
    switch (rule) {
    case RequestRule::Met:
        return L"";
    case RequestRule::EightArguments:
        return L"command line: not all of arguments 1 to 8";
    case RequestRule::ProcessIdAlone:
        return L"editor process id: not a decimal number alone";
    case RequestRule::ProcessIdNotZero:
        return L"editor process id: not a process (0)";
    case RequestRule::HandoffName:
        return L"handoff name: not \"Local\\TavoPDFUpdate-\" and a suffix, 100 characters at most";
    case RequestRule::PackagePathAbsolute:
        return L"package: not an absolute path";
    case RequestRule::EditorPathAbsolute:
        return L"editor executable: not an absolute path";
    case RequestRule::StatusFileAbsolute:
        return L"status file: not an absolute path";
    case RequestRule::PackageKind:
        return L"package kind: not \"msi\" or \"exe\"";
    case RequestRule::EditorFileName:
        return L"editor executable: not named tavoPDFEditor.exe";
    }
    return L"";
}

// What each element of the helper's command line is, for a refusal.
std::wstring ArgumentName(size_t index) {
    static constexpr const wchar_t* Names[] = {
        L"helper",         L"editor process id", L"handoff name",
        L"package",        L"SHA-256",           L"editor executable",
        L"target version", L"package kind",      L"status file"};
    return index < ArgumentFirstForEditor
               ? Names[index]
               : L"editor argument " + std::to_wstring(index - ArgumentStatusFile);
}

bool IsExistingFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The path lies in the folder, or in a folder inside it, judged by file
// identity. Of a drive's root folder only the files right in it count: an
// editor installed there does not own the whole drive.
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder) {
    const bool driveRoot = ParentFolder(folder) == folder;
    for (std::wstring inner = path, outer = ParentFolder(path); !outer.empty() && outer != inner;
         inner = outer, outer = ParentFolder(outer)) {
        if (IsSameFile(outer, folder)) {
            return true;
        }
        if (driveRoot) {
            break;
        }
    }
    return false;
}

} // namespace

std::vector<std::wstring> HelperArguments(const UpdateOrder& order,
                                          const std::wstring& handoffName) {
    std::vector<std::wstring> arguments(ArgumentFirstForEditor);
    arguments[0] = order.HelperPath;
    arguments[ArgumentProcessId] =
        std::to_wstring(order.EditorProcessId.value_or(GetCurrentProcessId()));
    arguments[ArgumentHandoffName] = handoffName;
    arguments[ArgumentPackage] = order.PackagePath;
    arguments[ArgumentChecksum] = order.PackageSha256;
    arguments[ArgumentEditor] = order.EditorPath ? *order.EditorPath : ExecutablePath();
    arguments[ArgumentTargetVersion] = order.TargetVersion;
    arguments[ArgumentPackageKind] =
        order.PackageKind == PackageFormat::Msi ? PackageKindMsi : PackageKindExe;
    arguments[ArgumentStatusFile] = order.StatusFilePath;
    arguments.insert(arguments.end(), order.EditorArguments.begin(), order.EditorArguments.end());
    return arguments;
}

std::wstring CheckKeys(const std::vector<std::wstring>& keys, const std::wstring& name) {
    for (size_t index = 0; index < keys.size(); ++index) {
        if (!IsChecksumText(keys[index])) {
            return name + L" " + std::to_wstring(index + 1) + L": not 64 hexadecimal digits";
        }
    }
    return L"";
}

std::wstring CheckPublisherKeys(const std::vector<std::wstring>& keys) {
    return CheckKeys(keys, L"publisher key");
}

std::wstring CheckEditorExecutable(const std::wstring& editorPath, bool processIdGiven) {
    if (!IsAbsolutePath(editorPath)) {
        return DescribeBrokenRule(RequestRule::EditorPathAbsolute);
    }
    if (!EqualsIgnoringAsciiCase(LastPathComponent(editorPath), EditorFileName)) {
        return DescribeBrokenRule(RequestRule::EditorFileName);
    }
    // Without a process id the editor is this process; another executable
    // would fail the helper's parent check, after the start.
    if (!processIdGiven && GetFileAttributesW(editorPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return L"editor executable: the file does not exist (leave EditorPath unset to name "
               L"this process)";
    }
    if (!processIdGiven && !IsSameFile(editorPath, ExecutablePath())) {
        return L"editor executable: not this process's (give the editor's process id with it)";
    }
    return L"";
}

std::wstring CheckUpdateOrder(const UpdateOrder& order, const std::wstring& handoffName) {
    return CheckHelperArguments(order, HelperArguments(order, handoffName));
}

std::wstring CheckHelperArguments(const UpdateOrder& order,
                                  const std::vector<std::wstring>& arguments) {
    // The command line would be cut at the NUL, and the helper refuse what is left.
    for (size_t index = 0; index < arguments.size(); ++index) {
        if (arguments[index].find(L'\0') != std::wstring::npos) {
            return ArgumentName(index) + L": holds a NUL character";
        }
    }
    if (!IsAbsolutePath(order.HelperPath)) {
        return L"helper: not an absolute path";
    }
    // This process's executable would be paired with another process's id,
    // and the helper's parent check would fail.
    if (order.EditorProcessId && !order.EditorPath) {
        return L"editor executable: not given with the editor process id";
    }
    // The helper's own check over the very command line it will be given.
    std::vector<const wchar_t*> elements;
    for (const std::wstring& argument : arguments) {
        elements.push_back(argument.c_str());
    }
    UpdateRequest request;
    const RequestRule broken =
        ParseUpdateRequest(static_cast<int>(elements.size()), elements.data(), request);
    if (broken != RequestRule::Met) {
        return DescribeBrokenRule(broken);
    }
    const std::wstring editor =
        CheckEditorExecutable(request.EditorPath, order.EditorProcessId.has_value());
    if (!editor.empty()) {
        return editor;
    }
    // The helper refuses these too, but only after hashing the package, and
    // then the attempt is lost: better said now.
    if (!IsChecksumText(order.PackageSha256)) {
        return L"SHA-256: not 64 hexadecimal digits";
    }
    if (!ParseVersion(order.TargetVersion)) {
        return L"target version: not 2 to 4 numbers of at most 65535";
    }
    const std::wstring badKey = CheckPublisherKeys(order.PublisherKeys);
    if (!badKey.empty()) {
        return badKey;
    }
    // Every write of the helper would fail silently: a good install could
    // not be told from a refusal.
    if (!IsExistingFolder(ParentFolder(request.StatusFilePath))) {
        return L"status file: its folder does not exist";
    }
    // The old status file is removed before the start: that would be the download.
    if (IsSameFile(request.StatusFilePath, request.PackagePath)) {
        return L"status file: names the package";
    }
    // An installer cannot replace a program that is running.
    if (IsInsideFolder(order.HelperPath, request.InstallFolder)) {
        return L"helper: inside the install folder";
    }
    return L"";
}

} // namespace tavo
