#pragma once

// The feed check's decisions on bytes in hand: what the network fetched,
// judged without it (the tests give it fixture feeds).

#include "editor/feed/update_state.h"
#include "tavo/editor_update.h"

#include <cstdint>
#include <optional>
#include <string>

inline constexpr size_t FeedSizeLimitBytes = 1 << 20;
inline constexpr wchar_t FeedProduct[] = L"Tavo PDF";

// The install's bucket for a release, 0 to 99: the SHA-256 of the install id,
// "/" and the version, its first four bytes as a number, modulo 100. A
// release at rolloutPercent p is offered to buckets below p.
unsigned RolloutBucket(const std::wstring& installId, const std::wstring& version);

// Empty when the check keeps its rules (an https URL WinHTTP can read, a
// running version of 2 to 4 numbers, keys of 64 hex digits, a stall limit of
// 1 to 600000 ms); otherwise the field and the rule, such as "running
// version: not 2 to 4 numbers". Nothing is fetched for a check that breaks one.
std::wstring CheckFeedRequest(const tavo::FeedCheck& check);

// Fetches the check's feed and its signature (empty when the server has
// none) as CheckForUpdate does; the answer when that failed or was stopped.
std::optional<tavo::FeedAnswer> FetchFeed(const tavo::FeedCheck& check, std::string& feed,
                                          std::string& signature);

// Judges a fetched feed and its signature at `nowUtc` (a FILETIME) against the
// check and the state, raising the state's sequence for the channel when the
// feed is accepted. Never Code NetworkFailed.
tavo::FeedAnswer JudgeFeed(const std::string& feed, const std::string& signature,
                           const tavo::FeedCheck& check, UpdateState& state, std::uint64_t nowUtc);
