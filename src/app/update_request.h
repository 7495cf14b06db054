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

// Where each argument stands on the command line. Element 0, the helper's
// own path, is never read; the editor's arguments run to the end.
enum HelperArgument : int {
    ArgumentProcessId = 1,
    ArgumentHandoffName,
    ArgumentPackage,
    ArgumentChecksum,
    ArgumentEditor,
    ArgumentTargetVersion,
    ArgumentPackageKind,
    ArgumentStatusFile,
    ArgumentFirstForEditor,
};

inline constexpr wchar_t HandoffNamePrefix[] = L"Local\\TavoPDFUpdate-";
inline constexpr size_t HandoffNameMaxLength = 100;
inline constexpr wchar_t EditorFileName[] = L"tavoPDFEditor.exe";
inline constexpr wchar_t PackageKindMsi[] = L"msi";
inline constexpr wchar_t PackageKindExe[] = L"exe";

// The rules of the command line in the order they are checked. A command
// line that breaks one is refused with exit code 2; the editor's side names
// the rule to whoever built it.
enum class RequestRule {
    Met,                 // every rule holds
    EightArguments,      // arguments 1 to 8 are all there
    ProcessIdAlone,      // nothing follows the process id's digits
    ProcessIdNotZero,    // the process id is not 0
    HandoffName,         // the prefix at the start, at most 100 units in all
    PackagePathAbsolute, // the package path is absolute
    EditorPathAbsolute,  // the editor path is absolute
    StatusFileAbsolute,  // the status file path is absolute
    PackageKind,         // exactly "msi" or "exe"
    EditorFileName,      // the editor path ends in the editor's file name
};

// Checks arguments 1 to 8 and fills the request when every rule holds;
// otherwise names the first rule broken, and the request is not to be used.
// A process id without digits, or beyond 32 bits, throws as std::stoul
// does: that is the unexpected-error outcome, not a refusal.
RequestRule ParseUpdateRequest(int argumentCount, const wchar_t* const* arguments,
                               UpdateRequest& request);
