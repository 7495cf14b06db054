// What the README's quick start leaves to the editor, for the test that builds
// it as written. The feed key is no pin, so that the updater's first check is
// refused before anything is fetched: no test reaches past the loopback address.
#pragma once

#include <tavo/editor_updater.h>

#include <windows.h>

inline const wchar_t FeedKey[] = L"not a pin";
inline const wchar_t PublisherKey[] = L"not a pin either";
inline void ShowUpdateOutcome(const tavo::UpdateOutcome&) {}
inline bool SaveAndCloseDocuments() {
    return true;
}
inline int RunEditor(const std::vector<std::wstring>& arguments) {
    return arguments.empty() ? 1 : 0;
}
