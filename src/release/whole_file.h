#pragma once

// A publisher's files read and written whole: packages, feeds, indexes.

#include "tavo/editor_update.h"

#include <string>

// The file's bytes; empty when it cannot be read.
std::string ReadWhole(const std::wstring& path);
bool WriteWhole(const std::wstring& path, const std::string& bytes);

// The file's size and SHA-256 (its URL left as it is); false when it
// cannot be read or is empty.
bool DescribeFile(const std::wstring& path, tavo::PublishedFile& file);
