#pragma once

// The download's decisions that need no server: how much room it needs, and
// what an answer to a GET (with or without a Range) means for the file.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

// The most a read of a body asks for at once, and how often progress is told.
inline constexpr DWORD ReadChunkBytes = 64 << 10;
inline constexpr ULONGLONG ProgressEveryMs = 100;

// Beyond what is still to come: the file system's own overhead and the
// editor's other writes meanwhile.
inline constexpr std::uint64_t DownloadSpareBytes = 16ull << 20;

// Empty when freeBytes can take the rest of the file; otherwise the refusal,
// "download folder: N MB free, M MB needed".
std::wstring DescribeShortSpace(std::uint64_t freeBytes, std::uint64_t remainingBytes);

enum class AnswerUse {
    Append,    // 206 from where the partial file ends: the rest of the same file
    StartOver, // 200: the whole file, a new one if the partial was of another
    Refuse,    // anything else: Refusal says why
};

struct AnswerPlan {
    AnswerUse Use = AnswerUse::Refuse;
    std::wstring Refusal;
};

// What an answer means when `offset` bytes are on disk already and the offer
// promised `size`: a length or range that disagrees with the offer is
// refused before a byte of the body is written.
AnswerPlan PlanAnswer(unsigned long status, const std::optional<std::uint64_t>& contentLength,
                      const std::wstring& contentRange, std::uint64_t offset, std::uint64_t size);
