#pragma once

// The updater's log in the updates folder: one line per check, offer,
// download, hand-over and outcome, so that a support question can be
// answered. Bounded: past 64 KiB only the last 300 lines are kept.

#include <string>

// Appends "<UTC time> <text>" as a UTF-8 line; a log that cannot be written
// is no failure of the update.
void AppendUpdateLog(const std::wstring& path, const std::wstring& text);
