#include "release/feed_tool.h"

#include "base/paths.h"
#include "base/utf8_text.h"
#include "editor/download/delta_download.h"
#include "editor/download/https_get.h"
#include "editor/feed/feed_decision.h"
#include "editor/feed/feed_document.h"
#include "editor/feed/feed_signature.h"
#include "release/delta_files.h"
#include "release/release_check.h"
#include "release/whole_file.h"
#include "verify/checksum.h"
#include "verify/version_compare.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>

using Json = nlohmann::json;

namespace {

bool IsNumber(const std::wstring& text) {
    return !text.empty() && text.size() < 19 &&
           text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

// A trial folder of the tool's own under the temp folder, new for this run;
// empty when none can be made.
std::wstring MakeTrialFolder() {
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path(error) /
        (L"tavoPDFReleaseCheck-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount64()));
    return std::filesystem::create_directories(folder, error) ? folder.wstring() : L"";
}

int ComposeChecked(const std::vector<std::wstring>& arguments, const std::wstring& trials,
                   const wchar_t* usage, std::wstring& report);

} // namespace

int ComposeFeed(const std::vector<std::wstring>& arguments, std::wstring& report) {
    const wchar_t* usage =
        L"usage: tavoPDFReleaseCheck compose-feed <feed.json> <channel> <sequence> <expires UTC> "
        L"--publisher-key HEX [--trial-install FOLDER] --release <package> <msi|exe> <version> "
        L"<https URL> <minimum version> <rollout percent> <critical|normal> <notes> "
        L"[--release ...]\n";
    std::vector<std::wstring> rest = arguments;
    std::wstring trials;
    std::error_code error;
    if (rest.size() > 7 && rest[6] == L"--trial-install") {
        trials = rest[7];
        rest.erase(rest.begin() + 6, rest.begin() + 8);
        if (std::filesystem::exists(trials, error) && !std::filesystem::is_empty(trials, error)) {
            report = usage;
            return 2;
        }
    }
    if (rest.size() < 15 || !IsNumber(rest[2]) || ParseUtcTime(rest[3]) == 0 ||
        rest[4] != L"--publisher-key" || !IsChecksumText(rest[5])) {
        report = usage;
        return 2;
    }
    // Every package gets the whole release check, its trial install included:
    // a folder of the tool's own unless one is given, removed afterwards.
    const bool ownTrials = trials.empty();
    trials = ownTrials ? MakeTrialFolder() : trials;
    if (trials.empty()) {
        report = L"refused  trial install: no folder could be made; give --trial-install FOLDER\n";
        return 2;
    }
    const int verdict = ComposeChecked(rest, trials, usage, report);
    if (ownTrials && !trials.empty()) {
        std::filesystem::remove_all(trials, error);
    }
    return verdict;
}

namespace {

int ComposeChecked(const std::vector<std::wstring>& arguments, const std::wstring& trials,
                   const wchar_t* usage, std::wstring& report) {
    const std::wstring key = arguments[5];
    Json feed = {{"product", ToUtf8(FeedProduct)},
                 {"channel", ToUtf8(arguments[1])},
                 {"sequence", std::wcstoull(arguments[2].c_str(), nullptr, 10)},
                 {"expires", ToUtf8(arguments[3])},
                 {"releases", Json::array()}};
    bool refused = false;
    for (size_t at = 6; at < arguments.size(); at += 9) {
        const auto field = [&](size_t index) { return arguments[at + index]; };
        if (at + 9 > arguments.size() || field(0) != L"--release" || !IsNumber(field(6)) ||
            std::wcstoul(field(6).c_str(), nullptr, 10) > 100 ||
            (field(7) != L"critical" && field(7) != L"normal") || !ParseVersion(field(5)) ||
            field(4).rfind(L"https://", 0) != 0) {
            report = usage;
            return 2;
        }
        // Only a package the whole release check passes: signature by the key,
        // and a trial install whose editor starts with the libraries beside it.
        std::wstring checked;
        const std::wstring trial = trials + L"\\release-" + std::to_wstring(at / 9);
        const int verdict = RunReleaseCheck(
            {field(1), field(2), field(3), L"--publisher-key", key, L"--trial-install", trial},
            checked);
        report += checked;
        const size_t json = checked.rfind(L'{');
        const Json release = verdict == 0 && json != std::wstring::npos
                                 ? Json::parse(ToUtf8(checked.substr(json)), nullptr, false)
                                 : Json();
        if (verdict != 0 || !release.is_object()) {
            report += L"refused  feed: " + field(1) + L" does not pass the release check\n";
            refused = true;
            continue;
        }
        // Beside each package, what lets an editor fetch only what changed.
        tavo::PublishedFile blocks, pieces;
        const std::wstring deltaFailed = WriteDeltaFiles(field(1), blocks, pieces);
        if (!deltaFailed.empty()) {
            report += L"refused  " + deltaFailed + L"\n";
            refused = true;
            continue;
        }
        report += L"ok       block index: " + field(1) + L".blocks" +
                  (pieces.Size != 0 ? L", compressed copy " + field(1) + L".gz" : L"") +
                  L"; publish them beside the package\n";
        const auto published = [&](const tavo::PublishedFile& file, const wchar_t* end) {
            return Json{{"url", ToUtf8(field(4) + end)},
                        {"size", file.Size},
                        {"sha256", ToUtf8(file.Sha256)}};
        };
        feed["releases"].push_back({{"version", ToUtf8(field(3))},
                                    {"kind", ToUtf8(field(2))},
                                    {"url", ToUtf8(field(4))},
                                    {"size", release["size"]},
                                    {"sha256", release["sha256"]},
                                    {"publisherKey", ToUtf8(key)},
                                    {"minimumVersion", ToUtf8(field(5))},
                                    {"rolloutPercent", std::wcstoul(field(6).c_str(), nullptr, 10)},
                                    {"critical", field(7) == L"critical"},
                                    {"notes", ToUtf8(field(8))},
                                    {"blocks", published(blocks, L".blocks")}});
        if (pieces.Size != 0) {
            feed["releases"].back()["pieces"] = published(pieces, L".gz");
        }
    }
    if (refused) {
        return 1;
    }
    std::ofstream file(std::filesystem::path(arguments[0]), std::ios::binary);
    file << feed.dump(1) << "\n";
    file.close();
    if (!file) {
        report += L"refused  feed: " + arguments[0] + L" cannot be written\n";
        return 1;
    }
    report += L"ok       feed: " + arguments[0] + L", sequence " + arguments[2] + L", expires " +
              arguments[3] + L"; sign it, then check-feed\n";
    return 0;
}

} // namespace

int CheckFeed(const std::vector<std::wstring>& arguments, std::wstring& report) {
    std::vector<std::wstring> keys;
    std::vector<std::pair<std::wstring, std::wstring>> packages;
    std::wstring above, live;
    for (size_t at = 2; at < arguments.size(); at += 2) {
        const std::wstring value = at + 1 < arguments.size() ? arguments[at + 1] : L"";
        if (arguments[at] == L"--feed-key" && IsChecksumText(value)) {
            keys.push_back(value);
        } else if (arguments[at] == L"--above-sequence" && IsNumber(value)) {
            above = value;
        } else if (arguments[at] == L"--above-live" && CheckHttpsUrl(value).empty()) {
            live = value;
        } else if (arguments[at] == L"--package" && at + 2 < arguments.size()) {
            packages.push_back({value, arguments[++at + 1]});
        } else {
            above.clear();
            break;
        }
    }
    if (arguments.size() < 2 || keys.empty() || above.empty() == live.empty()) {
        report = L"usage: tavoPDFReleaseCheck check-feed <feed.json> <signature> --feed-key HEX "
                 L"[--feed-key HEX]... (--above-sequence N | --above-live <https URL of the "
                 L"published feed>) [--package <file> <version>]...\n";
        return 2;
    }
    const std::string bytes = ReadWhole(arguments[0]);
    bool refused = false;
    const auto verdict = [&](bool ok, const std::wstring& found) {
        report += (ok ? L"ok       " : L"refused  ") + found + L"\n";
        refused = refused || !ok;
    };
    if (!live.empty()) {
        // The published feed, checked as an editor checks it: its sequence
        // is the one to rise above.
        tavo::FeedCheck published;
        published.FeedUrl = live;
        std::string liveFeed, liveSignature;
        const std::optional<tavo::FeedAnswer> failed =
            FetchFeed(published, liveFeed, liveSignature);
        // Nothing published yet is a first release, not a broken server.
        const bool first = failed && failed->Detail.ends_with(L"answers 404");
        const std::wstring unsigned_ =
            failed
                ? failed->Detail + (first ? L"; for a first release, use --above-sequence 0" : L"")
                : CheckFeedSignature(liveFeed, liveSignature, keys);
        FeedDocument published_;
        const std::wstring malformed = unsigned_.empty() ? ParseFeed(liveFeed, published_) : L"";
        verdict(unsigned_.empty() && malformed.empty(),
                L"live feed: " + live + L" " +
                    (!unsigned_.empty() ? unsigned_
                     : !malformed.empty()
                         ? malformed
                         : L"is sequence " + std::to_wstring(published_.Sequence)));
        if (!unsigned_.empty() || !malformed.empty()) {
            return 1;
        }
        above = std::to_wstring(published_.Sequence);
    }
    const std::wstring signature = CheckFeedSignature(bytes, ReadWhole(arguments[1]), keys);
    verdict(signature.empty(),
            L"signature: " + (signature.empty() ? L"by a key given" : signature));
    FeedDocument feed;
    const std::wstring malformed = ParseFeed(bytes, feed);
    verdict(malformed.empty(), L"document: " + (malformed.empty() ? L"whole" : malformed));
    if (!malformed.empty()) {
        return 1;
    }
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    verdict(feed.ExpiresUtc >
                ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime),
            L"expires " + feed.ExpiresText);
    const bool higher = feed.Sequence > std::wcstoull(above.c_str(), nullptr, 10);
    verdict(higher, L"sequence " + std::to_wstring(feed.Sequence) +
                        (higher ? L", above " + above
                                : L", not above " + above + L": raise the sequence above " + above +
                                      L", compose and sign the feed again"));
    for (const auto& [file, version] : packages) {
        const FeedRelease* release = nullptr;
        for (const FeedRelease& each : feed.Releases) {
            release = IsSameVersion(each.Version, version) ? &each : release;
        }
        tavo::PublishedFile package;
        DescribeFile(file, package);
        verdict(
            release != nullptr && release->Size == package.Size &&
                EqualsIgnoringAsciiCase(release->Sha256, package.Sha256),
            L"release " + version + L": " +
                (release == nullptr ? L"not in the feed" : L"size and SHA-256 against " + file));
        if (release != nullptr && !release->Blocks.Url.empty()) {
            const std::wstring delta = CheckDeltaFiles(file, release->Blocks, release->Pieces);
            verdict(delta.empty(),
                    L"release " + version + L": " +
                        (delta.empty() ? L"block index and copy against " + file : delta));
        }
    }
    return refused ? 1 : 0;
}

int MeasureDeltaShare(const std::vector<std::wstring>& arguments, std::wstring& report) {
    std::uint64_t fetched = 0, size = 0;
    if (arguments.size() != 2) {
        report = L"usage: tavoPDFReleaseCheck delta-share <new package> <previous package, or "
                 L"the previous release's installed folder>\n";
        return 2;
    }
    if (!MeasureDelta(arguments[0], arguments[1], fetched, size)) {
        report = L"refused  delta: " + arguments[0] + L" or " + arguments[1] + L" cannot be read\n";
        return 1;
    }
    // An editor fetches the whole package rather than more than half of it.
    const bool whole = !tavo::IsWorthBuilding(fetched, size);
    const std::uint64_t share = (std::min(fetched, size) * 1000 + size / 2) / size;
    report = L"ok       delta: a client with " + arguments[1] + L" fetches " +
             std::to_wstring(whole ? size : fetched) + L" of " + std::to_wstring(size) +
             L" bytes, " + std::to_wstring(share / 10) + L"." + std::to_wstring(share % 10) + L"%" +
             (whole ? L": the whole package, its format defeats a delta" : L"") + L"\n";
    return 0;
}
