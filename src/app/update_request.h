#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class PackageFormat { Msi, Exe };

// The checked command line; owns copies of all its texts.
struct UpdateRequest {
    std::uint32_t EditorProcessId = 0;
    std::wstring HandoffName;
    std::wstring PackagePath;      // forward slashes turned into backslashes
    std::wstring ExpectedChecksum; // unchanged; its form is checked with the checksum
    std::wstring EditorPath;       // forward slashes turned into backslashes
    std::wstring InstallFolder;    // parent folder of EditorPath
    std::wstring TargetVersion;
    PackageFormat PackageKind = PackageFormat::Exe;
    std::wstring StatusFilePath; // unchanged, forward slashes included
    std::vector<std::wstring> EditorArguments;
};

inline constexpr wchar_t HandoffNamePrefix[] = L"Local\\TavoPDFUpdate-";
inline constexpr wchar_t EditorFileName[] = L"tavoPDFEditor.exe";

// Checks arguments 1 to 8 (element 0, the helper's own path, is never read)
// and builds the request; no value means "refuse with exit code 2". A process
// id without digits, or beyond 32 bits, throws as std::stoul does: that is
// the unexpected-error outcome, not a refusal.
std::optional<UpdateRequest> ParseUpdateRequest(int argumentCount, const wchar_t* const* arguments);
