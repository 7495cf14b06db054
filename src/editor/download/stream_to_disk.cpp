#include "editor/download/stream_to_disk.h"

namespace {

void WriteHandedBytes(StreamToDisk& stream) {
    std::vector<char> bytes;
    for (;;) {
        {
            std::unique_lock<std::mutex> holding(stream.Lock);
            stream.Changed.wait(holding, [&] { return !stream.Handed.empty() || stream.Ending; });
            if (stream.Handed.empty()) {
                return;
            }
            bytes.swap(stream.Handed);
        }
        stream.Changed.notify_all();
        DWORD written = 0;
        const DWORD size = static_cast<DWORD>(bytes.size());
        const bool ok = WriteFile(stream.File, bytes.data(), size, &written, nullptr) &&
                        written == size && AddToHash(*stream.Hash, bytes.data(), size);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        bytes.clear();
        if (!ok) {
            const std::lock_guard<std::mutex> holding(stream.Lock);
            stream.Error = error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
            return;
        }
    }
}

} // namespace

void StartStreamToDisk(StreamToDisk& stream, HANDLE file, const StreamHash& hash) {
    stream.File = file;
    stream.Hash = &hash;
    stream.Worker = std::thread(WriteHandedBytes, std::ref(stream));
}

bool HandToDisk(StreamToDisk& stream, std::vector<char>& bytes) {
    std::unique_lock<std::mutex> holding(stream.Lock);
    stream.Changed.wait(holding,
                        [&] { return stream.Handed.empty() || stream.Error != ERROR_SUCCESS; });
    if (stream.Error != ERROR_SUCCESS) {
        return false;
    }
    stream.Handed.swap(bytes);
    bytes.clear();
    holding.unlock();
    stream.Changed.notify_all();
    return true;
}

DWORD FinishStreamToDisk(StreamToDisk& stream) {
    {
        const std::lock_guard<std::mutex> holding(stream.Lock);
        stream.Ending = true;
    }
    stream.Changed.notify_all();
    stream.Worker.join();
    return stream.Error;
}

StreamToDisk::~StreamToDisk() {
    if (Worker.joinable()) {
        FinishStreamToDisk(*this);
    }
}
