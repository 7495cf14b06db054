#pragma once

// The release tool's feed: composed from packages that pass the release
// check, and checked once signed, before it is uploaded.
//
// tavoPDFReleaseCheck compose-feed <feed.json> <channel> <sequence> <expires UTC>
//     --publisher-key HEX [--trial-install FOLDER] --release <package> <msi|exe> <version>
//     <https URL> <minimum version> <rollout percent> <critical|normal> <notes> [--release ...]
//   Each package gets the whole release check, a trial install included (in a
//   folder of the tool's own, removed afterwards, unless one is given).
// tavoPDFReleaseCheck check-feed <feed.json> <signature> --feed-key HEX [--feed-key HEX]...
//     (--above-sequence N | --above-live <URL>) [--package <file> <version>]...
//   --above-live fetches the published feed, checks its signature against the
//   keys and takes its sequence as the one to rise above.
// tavoPDFReleaseCheck delta-share <new package> <previous package or installed folder>
//   How much a client of the previous release fetches to build the new one.

#include <string>
#include <vector>

// The arguments after "compose-feed" or "check-feed"; the report as the
// release check writes one ("ok", "refused" lines). 0 when the feed was
// written or holds; 1 when something was refused (then no feed is written);
// 2 for a command line it cannot read.
int ComposeFeed(const std::vector<std::wstring>& arguments, std::wstring& report);
int CheckFeed(const std::vector<std::wstring>& arguments, std::wstring& report);
int MeasureDeltaShare(const std::vector<std::wstring>& arguments, std::wstring& report);
