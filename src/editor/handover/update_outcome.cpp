#include "tavo/editor_update.h"

#include "base/handle_owner.h"

#include "base/outcomes.h"

#include <string_view>

namespace tavo {

namespace {

constexpr size_t CodeDigitsMax = 10; // 4294967295

constexpr bool TakesCode(std::wstring_view text) {
    return text.ends_with(L' ');
}

// Every outcome text is ASCII: as many UTF-8 bytes as characters.
constexpr size_t LongestOutcomeBytes() {
    size_t longest = 0;
    for (const OutcomeText& outcome : OutcomeTexts) {
        const std::wstring_view text = outcome.Text;
        const size_t bytes = text.size() + (TakesCode(text) ? CodeDigitsMax : 0);
        longest = bytes > longest ? bytes : longest;
    }
    return longest;
}

// The prefix followed by a code exactly as the helper writes one: unsigned
// decimal, no sign, no leading zero, at most 4294967295.
bool IsCodeMessage(std::wstring_view text, std::wstring_view prefix) {
    if (!text.starts_with(prefix)) {
        return false;
    }
    const std::wstring_view digits = text.substr(prefix.size());
    if (digits.empty() || digits.size() > CodeDigitsMax ||
        (digits.size() > 1 && digits[0] == L'0')) {
        return false;
    }
    unsigned long long value = 0;
    for (const wchar_t digit : digits) {
        if (digit < L'0' || digit > L'9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(digit - L'0');
    }
    return value <= 0xFFFFFFFFull;
}

OutcomeKind KindOf(const OutcomeText& outcome) {
    switch (outcome.Code) {
    case ExitSuccess:
        return std::wstring_view(outcome.Text) == TextInstalledRebootRequired
                   ? OutcomeKind::InstalledRestartAdvised
                   : OutcomeKind::Installed;
    case ExitHandoffFailed:
    case ExitPackageRefused:
    case ExitEditorDidNotExit:
        return OutcomeKind::RefusedBeforeEditorExit;
    case ExitFailedAfterEditorExit:
        // The update is in: only the first restart failed.
        return std::wstring_view(outcome.Text) == TextRestartFailed
                   ? OutcomeKind::InstalledRestartFailed
                   : OutcomeKind::FailedAfterEditorExit;
    case ExitUnexpectedError:
        return OutcomeKind::UnexpectedError;
    case ExitBadRequest:
        break;
    }
    return OutcomeKind::NotAnOutcome;
}

} // namespace

UpdateOutcome ReadUpdateOutcome(const std::wstring& statusFilePath) {
    UpdateOutcome outcome;
    const UniqueHandle file =
        OwnHandle(CreateFileW(statusFilePath.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        outcome.Kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                           ? OutcomeKind::NothingWritten
                           : OutcomeKind::Unreadable;
        return outcome;
    }
    // One byte more than the longest outcome text tells a longer file apart.
    std::string bytes(LongestOutcomeBytes() + 1, '\0');
    DWORD bytesRead = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &bytesRead,
                  nullptr)) {
        outcome.Kind = OutcomeKind::Unreadable;
        return outcome;
    }
    outcome.Kind = OutcomeKind::NotAnOutcome;
    if (bytesRead == 0 || bytesRead > LongestOutcomeBytes()) {
        return outcome;
    }
    std::wstring text(bytesRead, L'\0');
    text.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                        static_cast<int>(bytesRead), text.data(),
                                                        static_cast<int>(bytesRead))));
    for (const OutcomeText& known : OutcomeTexts) {
        if (TakesCode(known.Text) ? IsCodeMessage(text, known.Text) : text == known.Text) {
            outcome.Kind = KindOf(known);
            outcome.Text = text;
            return outcome;
        }
    }
    return outcome;
}

} // namespace tavo
