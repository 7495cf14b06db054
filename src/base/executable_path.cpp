#include "base/paths.h"

#include <windows.h>

// In a file of its own: the helper never asks, and so does not carry it.
std::wstring ExecutablePath() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}
