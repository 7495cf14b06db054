#include "editor/feed/feed_document.h"

#include "base/utf8_text.h"
#include "editor/download/https_get.h"
#include "verify/checksum.h"
#include "verify/version_compare.h"

#include <nlohmann/json.hpp>

#include <cwchar>
#include <set>
#include <vector>

using Json = nlohmann::json;

namespace {

// A text field that keeps the rule, or nothing.
bool ReadText(const Json& object, const char* name, std::wstring& value,
              bool (*rule)(const std::wstring&) = nullptr) {
    const auto field = object.find(name);
    if (field == object.end() || !field->is_string()) {
        return false;
    }
    value = FromUtf8(field->get<std::string>());
    return (!value.empty() || field->get<std::string>().empty()) &&
           (rule == nullptr || rule(value));
}

bool ReadNumber(const Json& object, const char* name, std::uint64_t limit, std::uint64_t& value) {
    const auto field = object.find(name);
    if (field == object.end() || !field->is_number_unsigned() ||
        field->get<std::uint64_t>() > limit) {
        return false;
    }
    value = field->get<std::uint64_t>();
    return true;
}

bool IsVersion(const std::wstring& text) {
    return ParseVersion(text).has_value();
}
bool IsHttps(const std::wstring& text) {
    return text.rfind(L"https://", 0) == 0 && CheckHttpsUrl(text).empty();
}
bool IsShort(const std::wstring& text) {
    return text.size() <= 1000;
}

// An optional {"url", "size", "sha256"} object; false when it is there and
// broken.
bool ReadPublished(const Json& object, const char* name, tavo::PublishedFile& file) {
    const auto field = object.find(name);
    if (field == object.end()) {
        return true;
    }
    return field->is_object() && ReadText(*field, "url", file.Url, IsHttps) &&
           ReadNumber(*field, "size", PackageSizeLimitBytes, file.Size) && file.Size > 0 &&
           ReadText(*field, "sha256", file.Sha256, IsChecksumText);
}

// Empty, or the field of the release that breaks its rule.
std::string ReadRelease(const Json& object, FeedRelease& release) {
    std::wstring kind;
    std::uint64_t rollout = 0;
    const auto critical = object.find("critical");
    if (!object.is_object()) {
        return "";
    }
    if (!ReadText(object, "version", release.Version, IsVersion)) {
        return ".version";
    }
    if (!ReadText(object, "kind", kind) || (kind != L"msi" && kind != L"exe")) {
        return ".kind";
    }
    release.Kind = kind == L"msi" ? tavo::PackageFormat::Msi : tavo::PackageFormat::Exe;
    if (!ReadText(object, "url", release.Url, IsHttps)) {
        return ".url";
    }
    if (!ReadNumber(object, "size", PackageSizeLimitBytes, release.Size) || release.Size == 0) {
        return ".size";
    }
    if (!ReadText(object, "sha256", release.Sha256, IsChecksumText)) {
        return ".sha256";
    }
    if (!ReadText(object, "publisherKey", release.PublisherKey, IsChecksumText)) {
        return ".publisherKey";
    }
    if (!ReadText(object, "minimumVersion", release.MinimumVersion, IsVersion)) {
        return ".minimumVersion";
    }
    if (!ReadNumber(object, "rolloutPercent", 100, rollout)) {
        return ".rolloutPercent";
    }
    release.RolloutPercent = static_cast<unsigned>(rollout);
    if (critical == object.end() || !critical->is_boolean()) {
        return ".critical";
    }
    release.Critical = critical->get<bool>();
    if (!ReadText(object, "notes", release.Notes, IsShort)) {
        return ".notes";
    }
    if (!ReadPublished(object, "blocks", release.Blocks)) {
        return ".blocks";
    }
    if (!ReadPublished(object, "pieces", release.Pieces)) {
        return ".pieces";
    }
    return "-";
}

} // namespace

std::uint64_t ParseUtcTime(const std::wstring& text) {
    SYSTEMTIME time = {};
    wchar_t zone = 0, after = 0;
    FILETIME file = {};
    if (text.size() != 20 ||
        std::swscanf(text.c_str(), L"%4hu-%2hu-%2huT%2hu:%2hu:%2hu%lc%lc", &time.wYear,
                     &time.wMonth, &time.wDay, &time.wHour, &time.wMinute, &time.wSecond, &zone,
                     &after) != 7 ||
        zone != L'Z' || !SystemTimeToFileTime(&time, &file)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

std::wstring ParseFeed(const std::string& bytes, FeedDocument& feed) {
    // Signed metadata must mean one thing to every reader: a name given twice
    // in one object (which readers resolve differently) is refused.
    std::vector<std::set<std::string>> names;
    std::string twice;
    const Json document = Json::parse(
        bytes,
        [&](int, Json::parse_event_t event, Json& parsed) {
            if (event == Json::parse_event_t::object_start) {
                names.emplace_back();
            } else if (event == Json::parse_event_t::object_end && !names.empty()) {
                names.pop_back();
            } else if (event == Json::parse_event_t::key && !names.empty() &&
                       !names.back().insert(parsed.get<std::string>()).second && twice.empty()) {
                twice = parsed.get<std::string>();
            }
            return true;
        },
        false);
    if (document.is_discarded() || !document.is_object()) {
        return L"malformed at the document: not a JSON object";
    }
    if (!twice.empty()) {
        return L"malformed at the document: the name \"" + FromUtf8(twice) + L"\" given twice";
    }
    if (!ReadText(document, "product", feed.Product)) {
        return L"malformed at product";
    }
    if (!ReadText(document, "channel", feed.Channel)) {
        return L"malformed at channel";
    }
    if (!ReadNumber(document, "sequence", UINT64_MAX, feed.Sequence)) {
        return L"malformed at sequence";
    }
    if (!ReadText(document, "expires", feed.ExpiresText) ||
        (feed.ExpiresUtc = ParseUtcTime(feed.ExpiresText)) == 0) {
        return L"malformed at expires";
    }
    const auto releases = document.find("releases");
    if (releases == document.end() || !releases->is_array()) {
        return L"malformed at releases";
    }
    for (size_t index = 0; index < releases->size(); ++index) {
        FeedRelease& release = feed.Releases.emplace_back();
        const std::string fault = ReadRelease((*releases)[index], release);
        if (fault != "-") {
            return L"malformed at releases[" + std::to_wstring(index) + L"]" +
                   std::wstring(fault.begin(), fault.end());
        }
    }
    return L"";
}
