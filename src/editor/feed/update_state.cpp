#include "editor/feed/update_state.h"

#include "base/handle_owner.h"
#include "base/utf8_text.h"
#include "verify/checksum.h"

#include <nlohmann/json.hpp>

#include <bcrypt.h>

#include <array>
#include <vector>

using Json = nlohmann::json;

namespace {

std::wstring NewInstallId() {
    std::array<unsigned char, 32> random = {};
    BCryptGenRandom(nullptr, random.data(), 16, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return FormatDigest(random).substr(0, 32);
}

} // namespace

bool ReadUpdateState(const std::wstring& path, UpdateState& state, std::wstring& problem) {
    state = UpdateState();
    state.InstallId = NewInstallId();
    // Deleting shared: a writer's rename over it goes on while it is read.
    const UniqueHandle file =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            problem = L"state file: cannot be read (Windows error " + std::to_wstring(error) +
                      L"); replaced";
        }
        return false;
    }
    // Read whole, however many channels it keeps.
    std::string bytes;
    std::vector<char> chunk(64 << 10);
    for (DWORD read = 1; read > 0;) {
        if (!ReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr)) {
            problem = L"state file: cannot be read (Windows error " +
                      std::to_wstring(GetLastError()) + L"); replaced";
            return false;
        }
        bytes.append(chunk.data(), read);
    }
    const Json document = Json::parse(bytes, nullptr, false);
    const auto id = document.is_object() ? document.find("installId") : document.end();
    const auto sequences = document.is_object() ? document.find("sequences") : document.end();
    UpdateState kept;
    bool whole = id != document.end() && id->is_string() && sequences != document.end() &&
                 sequences->is_object();
    if (whole) {
        kept.InstallId = FromUtf8(id->get<std::string>());
        whole = kept.InstallId.size() == 32 &&
                kept.InstallId.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
    }
    if (whole) {
        for (const auto& [channel, sequence] : sequences->items()) {
            whole = whole && sequence.is_number_unsigned();
            kept.Sequences[FromUtf8(channel)] =
                sequence.is_number_unsigned() ? sequence.get<std::uint64_t>() : 0;
        }
    }
    if (!whole) {
        problem = L"state file: unreadable; replaced";
        return false;
    }
    const auto number = [&](const char* name) {
        const auto field = document.find(name);
        return field != document.end() && field->is_number_integer() ? field->get<std::int64_t>()
                                                                     : 0;
    };
    kept.LastCheck = number("lastCheck");
    kept.RetryAfter = number("retryAfter");
    kept.Failures = static_cast<std::uint64_t>(number("failures") > 0 ? number("failures") : 0);
    const auto skipped = document.find("skipped");
    kept.Skipped = skipped != document.end() && skipped->is_string()
                       ? FromUtf8(skipped->get<std::string>())
                       : L"";
    state = kept;
    return true;
}

UniqueHandle LockUpdateState(const std::wstring& path, const std::stop_token& stop) {
    const std::wstring lockPath = path + L".lock";
    for (ULONGLONG started = GetTickCount64();;) {
        UniqueHandle lock = OwnHandle(CreateFileW(lockPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (lock.get() != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            stop.stop_requested() || GetTickCount64() - started > 5000) {
            return lock;
        }
        Sleep(20);
    }
}

bool WriteUpdateState(const std::wstring& path, const UpdateState& state) {
    Json document = {{"installId", ToUtf8(state.InstallId)}, {"sequences", Json::object()}};
    for (const auto& [channel, sequence] : state.Sequences) {
        document["sequences"][ToUtf8(channel)] = sequence;
    }
    if (state.LastCheck != 0) {
        document["lastCheck"] = state.LastCheck;
        document["failures"] = state.Failures;
        document["retryAfter"] = state.RetryAfter;
    }
    if (!state.Skipped.empty()) {
        document["skipped"] = ToUtf8(state.Skipped);
    }
    const std::string bytes = document.dump() + "\n";
    const std::wstring next = path + L".new";
    {
        const UniqueHandle file = OwnHandle(
            CreateFileW(next.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (file.get() == INVALID_HANDLE_VALUE ||
            !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) ||
            written != bytes.size() || !FlushFileBuffers(file.get())) {
            return false;
        }
    }
    return MoveFileExW(next.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
