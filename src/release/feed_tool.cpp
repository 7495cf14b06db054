#include "release/feed_tool.h"

#include "base/paths.h"
#include "base/utf8_text.h"
#include "editor/feed/feed_decision.h"
#include "editor/feed/feed_document.h"
#include "editor/feed/feed_signature.h"
#include "release/release_check.h"
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

std::string ReadWhole(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool IsNumber(const std::wstring& text) {
    return !text.empty() && text.size() < 19 &&
           text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

} // namespace

int ComposeFeed(const std::vector<std::wstring>& arguments, std::wstring& report) {
    const wchar_t* usage =
        L"usage: tavoPDFReleaseCheck compose-feed <feed.json> <channel> <sequence> <expires UTC> "
        L"--publisher-key HEX --release <package> <msi|exe> <version> <https URL> <minimum "
        L"version> <rollout percent> <critical|normal> <notes> [--release ...]\n";
    if (arguments.size() < 15 || !IsNumber(arguments[2]) || ParseUtcTime(arguments[3]) == 0 ||
        arguments[4] != L"--publisher-key" || !IsChecksumText(arguments[5])) {
        report = usage;
        return 2;
    }
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
        // Only a package the release check passes, signature by the key included.
        std::wstring checked;
        const int verdict =
            RunReleaseCheck({field(1), field(2), field(3), L"--publisher-key", key}, checked);
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
        feed["releases"].push_back({{"version", ToUtf8(field(3))},
                                    {"kind", ToUtf8(field(2))},
                                    {"url", ToUtf8(field(4))},
                                    {"size", release["size"]},
                                    {"sha256", release["sha256"]},
                                    {"publisherKey", ToUtf8(key)},
                                    {"minimumVersion", ToUtf8(field(5))},
                                    {"rolloutPercent", std::wcstoul(field(6).c_str(), nullptr, 10)},
                                    {"critical", field(7) == L"critical"},
                                    {"notes", ToUtf8(field(8))}});
    }
    if (refused) {
        return 1;
    }
    std::ofstream(std::filesystem::path(arguments[0]), std::ios::binary) << feed.dump(1) << "\n";
    report += L"ok       feed: " + arguments[0] + L", sequence " + arguments[2] + L", expires " +
              arguments[3] + L"; sign it, then check-feed\n";
    return 0;
}

int CheckFeed(const std::vector<std::wstring>& arguments, std::wstring& report) {
    std::vector<std::wstring> keys;
    std::vector<std::pair<std::wstring, std::wstring>> packages;
    std::wstring above;
    for (size_t at = 2; at < arguments.size(); at += 2) {
        const std::wstring value = at + 1 < arguments.size() ? arguments[at + 1] : L"";
        if (arguments[at] == L"--feed-key" && IsChecksumText(value)) {
            keys.push_back(value);
        } else if (arguments[at] == L"--above-sequence" && IsNumber(value)) {
            above = value;
        } else if (arguments[at] == L"--package" && at + 2 < arguments.size()) {
            packages.push_back({value, arguments[++at + 1]});
        } else {
            above.clear();
            break;
        }
    }
    if (arguments.size() < 2 || keys.empty() || above.empty()) {
        report = L"usage: tavoPDFReleaseCheck check-feed <feed.json> <signature> --feed-key HEX "
                 L"[--feed-key HEX]... --above-sequence N [--package <file> <version>]...\n";
        return 2;
    }
    const std::string bytes = ReadWhole(arguments[0]);
    bool refused = false;
    const auto verdict = [&](bool ok, const std::wstring& found) {
        report += (ok ? L"ok       " : L"refused  ") + found + L"\n";
        refused = refused || !ok;
    };
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
    verdict(feed.Sequence > std::wcstoull(above.c_str(), nullptr, 10),
            L"sequence " + std::to_wstring(feed.Sequence) + L", above " + above);
    for (const auto& [file, version] : packages) {
        const FeedRelease* release = nullptr;
        for (const FeedRelease& each : feed.Releases) {
            release = IsSameVersion(each.Version, version) ? &each : release;
        }
        const UniqueHandle package = OpenPackageFile(file);
        LARGE_INTEGER size = {};
        GetFileSizeEx(package.get(), &size);
        const std::wstring sha256 = PackageChecksum(package.get());
        verdict(
            release != nullptr && release->Size == static_cast<std::uint64_t>(size.QuadPart) &&
                EqualsIgnoringAsciiCase(release->Sha256, sha256),
            L"release " + version + L": " +
                (release == nullptr ? L"not in the feed" : L"size and SHA-256 against " + file));
    }
    return refused ? 1 : 0;
}
