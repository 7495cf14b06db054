#pragma once

#include <optional>
#include <string>
#include <vector>

// The rows a query gives on the package's database, opened read-only, each
// field as text (integers in decimal, an empty field empty). Nothing when the
// database or the query cannot be opened.
std::vector<std::vector<std::wstring>> ReadMsiRows(const std::wstring& packagePath,
                                                   const std::wstring& query);

// The File table's row of tavoPDFEditor.exe: its key (its name inside the
// package's cabinet) and its version, which may be empty; nothing when the
// package installs no such file.
struct MsiEditorFile {
    std::wstring Key;
    std::wstring Version;
};
std::optional<MsiEditorFile> ReadMsiEditorFile(const std::wstring& packagePath);

// The bytes of a stream stored in the package (an embedded cabinet, say);
// empty when there is none of that name.
std::string ReadMsiStream(const std::wstring& packagePath, const std::wstring& name);
