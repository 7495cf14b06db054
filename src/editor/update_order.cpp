#include "editor/helper_launch.h"

#include "base/paths.h"
#include "verify/checksum.h"
#include "verify/version_compare.h"

namespace {

constexpr DWORD LongPathLength = 32768;

std::wstring OwnExecutablePath() {
    std::wstring path(LongPathLength, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), LongPathLength));
    return path;
}

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
    arguments[ArgumentEditor] = order.EditorPath ? *order.EditorPath : OwnExecutablePath();
    arguments[ArgumentTargetVersion] = order.TargetVersion;
    arguments[ArgumentPackageKind] =
        order.PackageKind == PackageFormat::Msi ? PackageKindMsi : PackageKindExe;
    arguments[ArgumentStatusFile] = order.StatusFilePath;
    arguments.insert(arguments.end(), order.EditorArguments.begin(), order.EditorArguments.end());
    return arguments;
}

std::wstring CheckUpdateOrder(const UpdateOrder& order, const std::wstring& handoffName) {
    return CheckHelperArguments(order, HelperArguments(order, handoffName));
}

std::wstring CheckHelperArguments(const UpdateOrder& order,
                                  const std::vector<std::wstring>& arguments) {
    if (!IsAbsolutePath(order.HelperPath)) {
        return L"helper: not an absolute path";
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
    // The helper refuses these too, but only after hashing the package, and
    // then the attempt is lost: better said now.
    if (!IsChecksumText(order.PackageSha256)) {
        return L"SHA-256: not 64 hexadecimal digits";
    }
    if (!ParseVersion(order.TargetVersion)) {
        return L"target version: not 2 to 4 numbers of at most 65535";
    }
    return L"";
}
