#pragma once

// The updater's log in the updates folder: one line per check, offer,
// download, hand-over and outcome, so that a support question can be
// answered. Every process of the editor writes it, one line at a time; a line
// is cut at LogLineLimit characters, and before the file would pass 64 KiB
// only its newest lines, 32 KiB at most, are kept.

#include <cstddef>
#include <string>

inline constexpr size_t LogLineLimit = 1000;

// Appends "<UTC time> <text>" as a UTF-8 line; a log that cannot be written
// is no failure of the update.
void AppendUpdateLog(const std::wstring& path, const std::wstring& text);
