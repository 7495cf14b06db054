#pragma once

// A channel's feed, as the publisher's release tool writes it: one JSON
// document, read with nlohmann's parser, which reports a broken document as
// a value, never as an exception.

#include "tavo/editor_update.h"

#include <cstdint>
#include <string>
#include <vector>

struct FeedRelease {
    std::wstring Version;
    tavo::PackageFormat Kind = tavo::PackageFormat::Msi;
    std::wstring Url;
    std::uint64_t Size = 0;
    std::wstring Sha256;
    std::wstring PublisherKey;
    std::wstring MinimumVersion; // the oldest version that may update to it directly
    unsigned RolloutPercent = 0; // 0 to 100
    bool Critical = false;       // offered whatever the rollout
    std::wstring Notes;
    tavo::PublishedFile Blocks; // optional: the block index, <package>.blocks
    tavo::PublishedFile Pieces; // optional: the compressed copy, <package>.gz
};

struct FeedDocument {
    std::wstring Product;
    std::wstring Channel;
    std::uint64_t Sequence = 0;   // raised by the publisher with every feed
    std::uint64_t ExpiresUtc = 0; // as a FILETIME: 100 ns since 1601
    std::wstring ExpiresText;     // as written, "2027-01-31T00:00:00Z"
    std::vector<FeedRelease> Releases;
};

// Empty when the bytes are a whole feed, every field of its type and form;
// otherwise "malformed at <where>", such as "malformed at releases[1].size".
std::wstring ParseFeed(const std::string& bytes, FeedDocument& feed);

// "2027-01-31T00:00:00Z" as a FILETIME; 0 when it is no such UTC time.
std::uint64_t ParseUtcTime(const std::wstring& text);
