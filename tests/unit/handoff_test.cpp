// Handoff decisions the end-to-end tests cannot stage: both events set at
// once, and file identity through other letter case and hard links.

#include "editor_side.h"
#include "handoff/handoff.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace {

std::wstring OwnExecutable() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), 32768));
    return path;
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

TEST(SameFile, IdentityDecidesNotTheText) {
    const std::wstring own = OwnExecutable();
    const std::wstring folder = MakeWorkFolder(L"samefile");
    const std::wstring copy = folder + L"\\copy.exe";
    const std::wstring link = folder + L"\\link.exe";
    CopyFileOver(own, copy);
    const bool linked = CreateHardLinkW(link.c_str(), copy.c_str(), nullptr) != FALSE;

    EXPECT_TRUE(IsSameFile(own, own));
    std::wstring upper = own;
    for (wchar_t& unit : upper) {
        unit = static_cast<wchar_t>(towupper(unit));
    }
    EXPECT_TRUE(IsSameFile(own, upper)) << "letter case must not matter";
    EXPECT_FALSE(IsSameFile(own, copy)) << "a copy is another file";
    EXPECT_FALSE(IsSameFile(own, folder + L"\\missing.exe"));
    EXPECT_FALSE(IsSameFile(folder + L"\\missing.exe", folder + L"\\missing.exe"));
    if (linked) {
        EXPECT_TRUE(IsSameFile(copy, link)) << "a hard link names the same file";
    }
}

} // namespace
