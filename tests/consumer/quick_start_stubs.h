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
// A window of this thread, as the editor's main window is.
inline HWND CreateMainWindow(const std::vector<std::wstring>& arguments) {
    return CreateWindowExW(0, L"STATIC", arguments.empty() ? L"" : arguments[0].c_str(), 0, 0, 0,
                           10, 10, nullptr, nullptr, nullptr, nullptr);
}
// The editor's loop, which a user ends at once here.
inline int RunMessageLoop() {
    return 0;
}
