#pragma once

#include <optional>
#include <string>
#include <vector>

// The directory property that the helper sets to the editor's folder.
inline constexpr wchar_t InstallFolderDirectory[] = L"INSTALLFOLDER";

// The rows a query gives on the package's database, opened read-only, each
// field as text (integers in decimal, an empty field empty). Nothing when the
// database or the query cannot be opened.
std::vector<std::vector<std::wstring>> ReadMsiRows(const std::wstring& packagePath,
                                                   const std::wstring& query);

// A row of the File table: its key (its name inside the package's cabinet),
// its long name, its version (which may be empty) and the directory its
// component installs into.
struct MsiFile {
    std::wstring Key;
    std::wstring Name;
    std::wstring Version;
    std::wstring Directory;
};
std::vector<MsiFile> ReadMsiFiles(const std::wstring& packagePath);

// The row of tavoPDFEditor.exe among them; nothing when the package installs
// no such file.
std::optional<MsiFile> FindMsiEditorFile(const std::vector<MsiFile>& files);

// The bytes of a stream stored in the package (an embedded cabinet, say);
// empty when there is none of that name.
std::string ReadMsiStream(const std::wstring& packagePath, const std::wstring& name);
