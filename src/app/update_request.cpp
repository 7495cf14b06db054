#include "app/update_request.h"

#include "base/paths.h"

#include <string_view>

namespace {

bool IsValidHandoffName(const std::wstring& name) {
    return name.size() >= std::wstring_view(HandoffNamePrefix).size() &&
           name.size() <= HandoffNameMaxLength && name.find(HandoffNamePrefix) == 0;
}

} // namespace

RequestRule ParseUpdateRequest(int argumentCount, const wchar_t* const* arguments,
                               UpdateRequest& request) {
    if (argumentCount < ArgumentFirstForEditor) {
        return RequestRule::EightArguments;
    }

    request.HandoffName = arguments[ArgumentHandoffName];
    request.ExpectedChecksum = arguments[ArgumentChecksum];
    request.PackagePath = WithBackslashes(arguments[ArgumentPackage]);
    request.EditorPath = WithBackslashes(arguments[ArgumentEditor]);
    request.TargetVersion = arguments[ArgumentTargetVersion];
    const std::wstring packageKind = arguments[ArgumentPackageKind];
    request.StatusFilePath = arguments[ArgumentStatusFile];
    request.InstallFolder = ParentFolder(request.EditorPath);

    // std::stoul skips leading white space, takes one sign ("-1" wraps to
    // 4294967295) and throws when no digit can be read or the value does not
    // fit 32 bits (unsigned long is 32 bits on Windows).
    const std::wstring processId = arguments[ArgumentProcessId];
    size_t consumed = 0;
    const unsigned long editorProcessId = std::stoul(processId, &consumed, 10);

    if (consumed != processId.size()) {
        return RequestRule::ProcessIdAlone;
    }
    if (editorProcessId == 0) {
        return RequestRule::ProcessIdNotZero;
    }
    if (!IsValidHandoffName(request.HandoffName)) {
        return RequestRule::HandoffName;
    }
    if (!IsAbsolutePath(request.PackagePath)) {
        return RequestRule::PackagePathAbsolute;
    }
    if (!IsAbsolutePath(request.EditorPath)) {
        return RequestRule::EditorPathAbsolute;
    }
    if (!IsAbsolutePath(request.StatusFilePath)) {
        return RequestRule::StatusFileAbsolute;
    }
    if (packageKind != PackageKindExe && packageKind != PackageKindMsi) {
        return RequestRule::PackageKind;
    }
    if (!EqualsIgnoringAsciiCase(LastPathComponent(request.EditorPath), EditorFileName)) {
        return RequestRule::EditorFileName;
    }

    request.EditorProcessId = static_cast<std::uint32_t>(editorProcessId);
    request.PackageKind = packageKind == PackageKindMsi ? PackageFormat::Msi : PackageFormat::Exe;
    request.EditorArguments.assign(arguments + ArgumentFirstForEditor, arguments + argumentCount);
    return RequestRule::Met;
}
