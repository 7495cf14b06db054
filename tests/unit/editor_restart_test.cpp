// Starting the editor again: in its own folder, with its arguments, and
// counted only when it is still running after the grace period.

#include "editor_side.h"
#include "install/editor_restart.h"

#include <gtest/gtest.h>

namespace {

std::wstring InstallEditor(const std::wstring& behaviour) {
    const std::wstring folder = MakeWorkFolder(L"restart") + L"\\Tavo PDF";
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileOver(FixturesFolder() + L"\\editor-2.0\\tavoPDFEditor.exe",
                 folder + L"\\tavoPDFEditor.exe");
    if (!behaviour.empty()) {
        WriteBytes(folder + L"\\editor-behaviour.txt", WideToUtf8(behaviour));
    }
    return folder;
}

TEST(RestartEditor, EditorStillRunningAfterTheGracePeriodCounts) {
    const std::wstring folder = InstallEditor(L"");
    const std::wstring arguments = JoinRestartArguments({L"--open", L"C:\\a b.pdf"});
    EXPECT_TRUE(RestartEditor(folder + L"\\tavoPDFEditor.exe", arguments));

    const std::vector<EditorLaunch> launches = ReadEditorLaunches(folder);
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].Arguments, (std::vector<std::wstring>{L"--open", L"C:\\a b.pdf"}));
    EXPECT_EQ(launches[0].WorkingFolder, folder);
    EndEditorLaunches(launches);
}

TEST(RestartEditor, EditorThatEndsWithinTheGracePeriodDoesNotCount) {
    const std::wstring folder = InstallEditor(L"exit-at-once");
    EXPECT_FALSE(RestartEditor(folder + L"\\tavoPDFEditor.exe", L""));
    EXPECT_EQ(ReadEditorLaunches(folder).size(), 1u) << "it did start, once";
}

TEST(RestartEditor, MissingEditorCannotBeStarted) {
    const std::wstring folder = MakeWorkFolder(L"restart");
    EXPECT_FALSE(RestartEditor(folder + L"\\tavoPDFEditor.exe", L""));
}

} // namespace
