#pragma once

// Receiving and the disk overlap: the download's thread hands each buffer it
// has filled to a thread of this record's own, which hashes it and appends it
// to the partial file while the next one is received.

#include "editor/download/stream_hash.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// The owner of its thread: one still running when the record goes (an
// exception on the receiving side) is finished then, so it never outlives it.
struct StreamToDisk {
    StreamToDisk() = default;
    StreamToDisk(const StreamToDisk&) = delete;
    StreamToDisk& operator=(const StreamToDisk&) = delete;
    ~StreamToDisk();

    HANDLE File = nullptr;            // the partial file, at its end; not owned
    const StreamHash* Hash = nullptr; // not owned
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<char> Handed; // the next bytes to write; empty when the thread took them
    bool Ending = false;
    DWORD Error = ERROR_SUCCESS; // the first write that failed, then nothing more is written
    std::thread Worker;
};

void StartStreamToDisk(StreamToDisk& stream, HANDLE file, const StreamHash& hash);

// Waits until the thread has taken the bytes handed before, then hands these
// (`bytes` is left empty, its room kept). False once a write has failed.
bool HandToDisk(StreamToDisk& stream, std::vector<char>& bytes);

// Writes what was handed, ends the thread: 0, or the Windows error of the
// write that failed. Called once for every start, on every path.
DWORD FinishStreamToDisk(StreamToDisk& stream);
