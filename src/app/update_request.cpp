#include "app/update_request.h"

#include "base/paths.h"

#include <string_view>

namespace {

constexpr int RequiredArgumentCount = 9;
constexpr size_t HandoffNameMinLength = 20;
constexpr size_t HandoffNameMaxLength = 100;

bool IsValidHandoffName(const std::wstring& name) {
    return name.size() >= HandoffNameMinLength && name.size() <= HandoffNameMaxLength &&
           name.find(HandoffNamePrefix) == 0;
}

} // namespace

std::optional<UpdateRequest> ParseUpdateRequest(int argumentCount,
                                                const wchar_t* const* arguments) {
    if (argumentCount < RequiredArgumentCount) {
        return std::nullopt;
    }

    UpdateRequest request;
    request.HandoffName = arguments[2];
    request.ExpectedChecksum = arguments[4];
    request.PackagePath = WithBackslashes(arguments[3]);
    request.EditorPath = WithBackslashes(arguments[5]);
    request.TargetVersion = arguments[6];
    const std::wstring packageKind = arguments[7];
    request.StatusFilePath = arguments[8];
    request.InstallFolder = ParentFolder(request.EditorPath);

    // std::stoul skips leading white space, takes one sign ("-1" wraps to
    // 4294967295) and throws when no digit can be read or the value does not
    // fit 32 bits (unsigned long is 32 bits on Windows).
    const std::wstring processId = arguments[1];
    size_t consumed = 0;
    const unsigned long editorProcessId = std::stoul(processId, &consumed, 10);

    if (consumed != processId.size() || editorProcessId == 0) {
        return std::nullopt;
    }
    if (!IsValidHandoffName(request.HandoffName)) {
        return std::nullopt;
    }
    if (!IsAbsolutePath(request.PackagePath) || !IsAbsolutePath(request.EditorPath) ||
        !IsAbsolutePath(request.StatusFilePath)) {
        return std::nullopt;
    }
    if (packageKind != L"exe" && packageKind != L"msi") {
        return std::nullopt;
    }
    if (!EqualsIgnoringAsciiCase(LastPathComponent(request.EditorPath), EditorFileName)) {
        return std::nullopt;
    }

    request.EditorProcessId = static_cast<std::uint32_t>(editorProcessId);
    request.PackageKind = packageKind == L"msi" ? PackageFormat::Msi : PackageFormat::Exe;
    request.EditorArguments.assign(arguments + RequiredArgumentCount, arguments + argumentCount);
    return request;
}
