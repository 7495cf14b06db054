#include "handoff/handoff.h"

#include "base/paths.h"

#include <vector>

namespace {

constexpr DWORD ImagePathBufferLength = 32768;

UniqueHandle OpenHandoffEvent(const std::wstring& handoffName, const wchar_t* suffix,
                              DWORD access) {
    const std::wstring name = handoffName + suffix;
    return OwnHandle(OpenEventW(access, FALSE, name.c_str()));
}

} // namespace

bool OpenHandoff(const std::wstring& handoffName, std::uint32_t editorProcessId,
                 HandoffHandles& handles, DWORD& lastError) {
    handles.Ready = OpenHandoffEvent(handoffName, ReadyEventSuffix, EVENT_MODIFY_STATE);
    handles.Commit = OpenHandoffEvent(handoffName, CommitEventSuffix, SYNCHRONIZE);
    handles.Cancel = OpenHandoffEvent(handoffName, CancelEventSuffix, SYNCHRONIZE);
    handles.EditorProcess = OwnHandle(OpenProcess(EditorProcessAccess, FALSE, editorProcessId));
    if (!handles.Ready || !handles.Commit || !handles.Cancel || !handles.EditorProcess) {
        lastError = GetLastError();
        return false;
    }
    return true;
}

bool ReadProcessImagePath(HANDLE process, std::wstring& imagePath, DWORD& lastError) {
    std::vector<wchar_t> buffer(ImagePathBufferLength, L'\0');
    DWORD length = ImagePathBufferLength;
    if (!QueryFullProcessImageNameW(process, 0, buffer.data(), &length)) {
        lastError = GetLastError();
        return false;
    }
    imagePath.assign(buffer.data(), length);
    return true;
}

ParentCheck CheckEditorImage(HANDLE editorProcess, const std::wstring& editorPath,
                             DWORD& lastError) {
    std::wstring image;
    if (!ReadProcessImagePath(editorProcess, image, lastError)) {
        return ParentCheck::ImageUnreadable;
    }
    return IsSameFile(image, editorPath) ? ParentCheck::SameFile : ParentCheck::OtherFile;
}

bool SignalReady(HANDLE readyEvent, DWORD& lastError) {
    if (!SetEvent(readyEvent)) {
        lastError = GetLastError();
        return false;
    }
    return true;
}

EditorDecision WaitForEditorDecision(HANDLE commitEvent, HANDLE cancelEvent, HANDLE editorProcess) {
    const HANDLE waitOn[3] = {commitEvent, cancelEvent, editorProcess};
    const DWORD woken = WaitForMultipleObjects(3, waitOn, FALSE, INFINITE);
    return woken == WAIT_OBJECT_0 ? EditorDecision::Commit : EditorDecision::NoCommit;
}

bool WaitForEditorExit(HANDLE editorProcess, DWORD timeoutMs) {
    return WaitForSingleObject(editorProcess, timeoutMs) == WAIT_OBJECT_0;
}
