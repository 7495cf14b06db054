#pragma once

#include "base/handle_owner.h"

#include <cstdint>
#include <string>

inline constexpr DWORD EditorExitTimeoutMs = 120000;

// The events' names: the handoff name followed at once by one of these.
inline constexpr wchar_t ReadyEventSuffix[] = L".ready";
inline constexpr wchar_t CommitEventSuffix[] = L".commit";
inline constexpr wchar_t CancelEventSuffix[] = L".cancel";
inline constexpr DWORD EditorProcessAccess = SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;

// The three events the editor created and its process. Members are released
// in reverse order: editor process, cancel, commit, ready.
struct HandoffHandles {
    UniqueHandle Ready = OwnHandle(nullptr);
    UniqueHandle Commit = OwnHandle(nullptr);
    UniqueHandle Cancel = OwnHandle(nullptr);
    UniqueHandle EditorProcess = OwnHandle(nullptr);
};

enum class ParentCheck { SameFile, ImageUnreadable, OtherFile };
enum class EditorDecision { Commit, NoCommit };

// Opens all four, whatever the earlier opens gave; false when any is null,
// with the last-error code read once after the last open. Handles that did
// open stay in `handles` for the run to close.
bool OpenHandoff(const std::wstring& handoffName, std::uint32_t editorProcessId,
                 HandoffHandles& handles, DWORD& lastError);

// Whether the editor process runs the file at editorPath, judged by file
// identity; lastError is set when the image path cannot be read.
ParentCheck CheckEditorImage(HANDLE editorProcess, const std::wstring& editorPath,
                             DWORD& lastError);

// True when both paths name one file (same volume and file id), so letter
// case, short names and hard links do not matter; false on any error.
bool IsSameFile(const std::wstring& first, const std::wstring& second);

// The full Win32 path of the executable a process runs; false with the
// last-error code when it cannot be read.
bool ReadProcessImagePath(HANDLE process, std::wstring& imagePath, DWORD& lastError);

bool SignalReady(HANDLE readyEvent, DWORD& lastError);

// Waits without a time limit. When several are signalled, commit wins over
// cancel, and cancel over the editor's end.
EditorDecision WaitForEditorDecision(HANDLE commitEvent, HANDLE cancelEvent, HANDLE editorProcess);

bool WaitForEditorExit(HANDLE editorProcess, DWORD timeoutMs);
