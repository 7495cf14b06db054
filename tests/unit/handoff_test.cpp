// The helper's side of the handoff: opening, the parent check by file
// identity, and how the editor's decision is read.

#include "editor_side.h"
#include "handoff/handoff.h"

#include <gtest/gtest.h>

namespace {

std::wstring OwnExecutable() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), 32768));
    return path;
}

std::wstring SwapAsciiCase(std::wstring text) {
    for (wchar_t& unit : text) {
        if (unit >= L'a' && unit <= L'z') {
            unit = static_cast<wchar_t>(unit - 32);
        } else if (unit >= L'A' && unit <= L'Z') {
            unit = static_cast<wchar_t>(unit + 32);
        }
    }
    return text;
}

TEST(OpenHandoff, MissingEventsFailWithTheirWindowsErrorAndKeepWhatOpened) {
    HandoffHandles handles;
    DWORD lastError = 0;
    EXPECT_FALSE(
        OpenHandoff(L"Local\\TavoPDFUpdate-missing", GetCurrentProcessId(), handles, lastError));
    EXPECT_EQ(lastError, 2u);
    EXPECT_FALSE(handles.Ready);
    EXPECT_TRUE(handles.EditorProcess) << "the process opened and must still be closed";
}

TEST(OpenHandoff, ProcessThatDoesNotExistFailsAfterTheEventsOpened) {
    HandoffEvents events = CreateHandoffEvents(L"no-process-" + std::to_wstring(GetTickCount64()));
    HandoffHandles handles;
    DWORD lastError = 0;
    EXPECT_FALSE(OpenHandoff(events.Name, 4294967295u, handles, lastError));
    EXPECT_NE(lastError, 0u);
    EXPECT_TRUE(handles.Ready && handles.Commit && handles.Cancel);
    EXPECT_FALSE(handles.EditorProcess);
    CloseHandoffEvents(events);
}

TEST(EditorDecision, CommitWinsOverCancelAndCancelOverTheEditorsEnd) {
    struct Case {
        const char* Situation;
        bool Commit;
        bool Cancel;
        EditorDecision Expected;
    };
    const Case cases[] = {
        {"commit only", true, false, EditorDecision::Commit},
        {"commit and cancel", true, true, EditorDecision::Commit},
        {"cancel only", false, true, EditorDecision::NoCommit},
        {"editor ended", false, false, EditorDecision::NoCommit},
    };
    // A process that has already ended stands for the editor.
    StartedProcess ended = StartProcess(FixturesFolder() + L"\\suite_app.exe", L"x", L"");
    TerminateProcess(ended.Process, 0);
    WaitForSingleObject(ended.Process, 5000);
    for (const Case& c : cases) {
        HandoffEvents events =
            CreateHandoffEvents(L"decision-" + std::to_wstring(GetTickCount64()));
        if (c.Commit) {
            SetEvent(events.Commit);
        }
        if (c.Cancel) {
            SetEvent(events.Cancel);
        }
        EXPECT_EQ(WaitForEditorDecision(events.Commit, events.Cancel, ended.Process), c.Expected)
            << c.Situation;
        CloseHandoffEvents(events);
    }
    EndProcess(ended);
}

TEST(EditorExit, RunningEditorIsNotEndedAfterTheTimeout) {
    StartedProcess running = StartProcess(FixturesFolder() + L"\\suite_app.exe", L"x", L"");
    EXPECT_FALSE(WaitForEditorExit(running.Process, 200));
    TerminateProcess(running.Process, 0);
    EXPECT_TRUE(WaitForEditorExit(running.Process, 5000));
    EndProcess(running);
}

TEST(SameFile, IdentityDecidesNotTheText) {
    const std::wstring own = OwnExecutable();
    const std::wstring folder = MakeWorkFolder(L"samefile");
    const std::wstring copy = folder + L"\\copy.exe";
    const std::wstring link = folder + L"\\link.exe";
    CopyFileOver(own, copy);
    const bool linked = CreateHardLinkW(link.c_str(), copy.c_str(), nullptr) != FALSE;

    EXPECT_TRUE(IsSameFile(own, own));
    EXPECT_TRUE(IsSameFile(own, SwapAsciiCase(own))) << "letter case must not matter";
    EXPECT_FALSE(IsSameFile(own, copy)) << "a copy is another file";
    EXPECT_FALSE(IsSameFile(own, folder + L"\\missing.exe"));
    EXPECT_FALSE(IsSameFile(folder + L"\\missing.exe", folder + L"\\missing.exe"));
    if (linked) {
        EXPECT_TRUE(IsSameFile(copy, link)) << "a hard link names the same file";
    }
}

TEST(ParentCheck, OwnProcessRunsItsOwnImageAndNoOtherFile) {
    DWORD lastError = 0;
    EXPECT_EQ(CheckEditorImage(GetCurrentProcess(), OwnExecutable(), lastError),
              ParentCheck::SameFile);
    EXPECT_EQ(CheckEditorImage(GetCurrentProcess(), HelperExecutablePath(), lastError),
              ParentCheck::OtherFile);
}

} // namespace
