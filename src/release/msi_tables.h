#pragma once

#include <string>
#include <vector>

// The rows a query gives on the package's database, opened read-only, each
// field as text (integers in decimal, an empty field empty). Nothing when the
// database or the query cannot be opened.
std::vector<std::vector<std::wstring>> ReadMsiRows(const std::wstring& packagePath,
                                                   const std::wstring& query);

// The bytes of a stream stored in the package (an embedded cabinet, say);
// empty when there is none of that name.
std::string ReadMsiStream(const std::wstring& packagePath, const std::wstring& name);
