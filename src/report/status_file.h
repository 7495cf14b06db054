#pragma once

#include <cstdint>
#include <string>

// Replaces the status file with the text in UTF-8: no byte order mark, no
// line end. Failures are silent: the run's outcome never depends on whether
// the status file could be written.
void WriteStatusFile(const std::wstring& statusFilePath, const std::wstring& text);

// The prefix followed at once by the code in unsigned decimal ("0" for 0).
std::wstring FormatCodeMessage(const std::wstring& prefix, std::uint32_t code);
