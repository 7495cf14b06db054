#pragma once

#include <windows.h>

#include <memory>

// Closes a kernel handle unless it is one of the two values that mean
// "nothing was opened": null and INVALID_HANDLE_VALUE.
inline void CloseValidHandle(HANDLE handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
}

// The one owner of a kernel handle: closed exactly once, when the owner goes.
using UniqueHandle = std::unique_ptr<void, decltype(&CloseValidHandle)>;

inline UniqueHandle OwnHandle(HANDLE handle) {
    return UniqueHandle(handle, &CloseValidHandle);
}
