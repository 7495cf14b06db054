#pragma once

#include <string>
#include <string_view>

// Path and name rules shared by the request check, the scan and the restart.

bool IsPathSeparator(wchar_t character);

// The Windows rule for an absolute path: a drive letter, colon and separator;
// two separators and a name (server shares and device prefixes); or the
// object-manager prefix "\??\" followed by a name.
bool IsAbsolutePath(std::wstring_view path);

// The path less its last component and the separators before it; a drive
// root such as "C:" keeps its separator. Empty when the path has no separator.
std::wstring ParentFolder(std::wstring_view path);

// The text after the last separator (the whole text when there is none).
std::wstring_view LastPathComponent(std::wstring_view path);

std::wstring WithBackslashes(std::wstring path);

// The full path of this process's executable.
std::wstring ExecutablePath();

// Compares with the letters A-Z folded to a-z and nothing else folded, so the
// answer never depends on a locale.
bool EqualsIgnoringAsciiCase(std::wstring_view first, std::wstring_view second);
