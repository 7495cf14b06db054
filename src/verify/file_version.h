#pragma once

#include <string>

// The FileDescription under the first translation the version resource
// lists; empty on any failure.
std::wstring ReadFileDescription(const std::wstring& executablePath);

// The fixed file version as "a.b.c.d"; empty on any failure.
std::wstring ReadFileVersion(const std::wstring& executablePath);

// The MSI package's ProductVersion property, read-only; empty on any failure.
std::wstring ReadMsiProductVersion(const std::wstring& packagePath);

// Identifies the suite's own EXE setup by its FileDescription.
inline constexpr wchar_t SetupDescription[] = L"Tavo PDF Setup";
