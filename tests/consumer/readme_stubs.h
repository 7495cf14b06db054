// What the README's samples of the parts leave to the editor, for the test
// that builds them as written (each fragment of statements as a function).
#pragma once

#include <tavo/editor_update.h>

#include <cstdint>
#include <stop_token>
#include <string>

using namespace tavo;

inline const wchar_t FeedKey[] = L"", RenewedFeedKey[] = L"";
inline const wchar_t PublisherKey[] = L"", RenewedPublisherKey[] = L"";
inline std::wstring UpdatesFolder, UpdatesFolderOfThisUser, document;
inline bool userClickedCheckForUpdates = false;
inline std::stop_source userStop;
inline std::wstring CopyOfTheHelperInTemp() {
    return L"";
}
inline bool ReportCannotUpdate(const std::wstring&, DWORD) {
    return false;
}
inline void ShowNotUpdated(const std::wstring&) {}
inline bool SaveWorkAndCloseDocuments() {
    return false;
}
inline void ReopenDocuments() {}
inline int Download(const PackageOffer&) {
    return 0;
}
inline int ShowUpToDate() {
    return 0;
}
inline int Log(const std::wstring&) {
    return 0;
}
inline void Log(const wchar_t*, const std::wstring&) {}
inline int RetryLater(DWORD) {
    return 0;
}
inline void PostProgress(std::uint64_t, std::uint64_t, double) {}
inline int TryAgainLater() {
    return 0;
}
inline int ReportBrokenUpdate() {
    return 0;
}
