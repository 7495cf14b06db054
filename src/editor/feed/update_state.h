#pragma once

// What the editor keeps between feed checks, in the state file it names (per
// user): its install id, made once, and the highest feed sequence seen on
// each channel.

#include <cstdint>
#include <map>
#include <string>

struct UpdateState {
    std::wstring InstallId; // 32 hex digits
    std::map<std::wstring, std::uint64_t> Sequences;
};

// The state in the file; false when there is none or it cannot be read, with
// `state` then new (a fresh install id, no sequences) and `problem` saying
// why when the file was there but unreadable.
bool ReadUpdateState(const std::wstring& path, UpdateState& state, std::wstring& problem);

// Writes the state so that a crash leaves the old file or the new one whole,
// never half of one: into a file beside it, flushed, then renamed over it.
bool WriteUpdateState(const std::wstring& path, const UpdateState& state);
