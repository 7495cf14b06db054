#pragma once

#include <optional>
#include <string>
#include <vector>

// The names of the libraries a program's import table names, in its order
// (delay-loaded ones are not among them); nothing when the file is not a
// whole Windows program or library.
std::optional<std::vector<std::wstring>> ReadImportedLibraries(const std::wstring& path);

// A library that Windows itself provides, from its system folder or as an
// API set: the loader finds it without the package shipping it.
bool IsSystemLibrary(const std::wstring& name);

// The libraries a program needs that are neither the system's nor in its own
// folder, where the loader looks first: it would not start. The libraries
// found beside it are followed in turn. Nothing when a program among them
// cannot be read.
std::optional<std::vector<std::wstring>> FindMissingLibraries(const std::wstring& program);
