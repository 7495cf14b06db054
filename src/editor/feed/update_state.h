#pragma once

// What the editor keeps between feed checks, in the state file it names (per
// user): its install id, made once, and the highest feed sequence seen on
// each channel.

#include <cstdint>
#include <map>
#include <string>

#include "base/handle_owner.h"

#include <stop_token>

struct UpdateState {
    std::wstring InstallId; // 32 hex digits
    std::map<std::wstring, std::uint64_t> Sequences;
    // The updater's schedule and the user's word, kept across restarts.
    std::int64_t LastCheck = 0;  // seconds since 1970, UTC; 0: never
    std::uint64_t Failures = 0;  // network failures since the last answer
    std::int64_t RetryAfter = 0; // no check before, as the server asked
    std::wstring Skipped = {};   // the version the user chose to skip
};

// The state in the file; false when there is none or it cannot be read, with
// `state` then new (a fresh install id, no sequences) and `problem` saying
// why when the file was there but unreadable.
bool ReadUpdateState(const std::wstring& path, UpdateState& state, std::wstring& problem);

// The state file's lock beside it (<path>.lock), held without sharing by one
// reader-and-writer at a time: two editor windows would otherwise each make
// an install id, or write a lower sequence over a higher one. Waits up to 5 s
// for another holder (less when stopped); INVALID_HANDLE_VALUE when busy.
UniqueHandle LockUpdateState(const std::wstring& path, const std::stop_token& stop = {});

// Writes the state so that a crash leaves the old file or the new one whole,
// never half of one: into a file beside it, flushed, then renamed over it.
bool WriteUpdateState(const std::wstring& path, const UpdateState& state);
