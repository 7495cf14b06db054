// The scan's judgement of one process, by its name and by the folder it runs
// from, including processes that cannot be inspected (Wine lets every process
// be inspected); and the parent check's file identity. Running processes
// show end to end.

#include "editor_side.h"
#include "handoff/handoff.h"
#include "handoff/suite_scan.h"

#include <gtest/gtest.h>

namespace {

TEST(SuiteScan, KnowsTheSuiteByExactFileNameInAnyAsciiLetterCase) {
    // clang-format off
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"tavoPDFEditor.exe", true}, {L"NorvexViewer.exe", true}, {L"NORVEXorganizer.EXE", true},
        {L"NorvexCompare.exe", true}, {L"NorvexStarter.exe", true}, {L"norvextool.exe", true},
        {L"NorvexViewer2.exe", false}, {L"xNorvexTool.exe", false}, {L"NorvexTool.exe.exe", false},
        {L"NorvexTool", false}};
    // clang-format on
    for (const auto& [name, isSuite] : cases) {
        EXPECT_EQ(IsSuiteExecutableName(name), isSuite) << testing::PrintToString(name);
    }
}

TEST(SuiteScan, CountsAProcessFromTheInstallFolderOrOneThatCannotBeInspected) {
    const std::wstring folder = L"C:\\Tavo PDF";
    // clang-format off
    const std::pair<std::wstring, bool> cases[] = {
        {L"C:\\Tavo PDF\\NorvexViewer.exe", true}, {L"c:\\tavo pdf\\NorvexViewer.exe", true},
        {L"C:\\Tavo PDF\\plugins\\NorvexViewer.exe", false}, {L"C:\\Tavo PDF 2\\NorvexViewer.exe", false},
        {L"C:\\NorvexViewer.exe", false}};
    // clang-format on
    for (const auto& [image, counts] : cases) {
        EXPECT_EQ(SuiteProcessCounts(true, &image, folder), counts)
            << testing::PrintToString(image);
    }
    EXPECT_TRUE(SuiteProcessCounts(false, nullptr, folder)) << "could not be opened";
    EXPECT_TRUE(SuiteProcessCounts(true, nullptr, folder)) << "image path unreadable";
    const std::wstring inRoot = L"C:\\NorvexTool.exe";
    EXPECT_TRUE(SuiteProcessCounts(true, &inRoot, L"C:\\")) << "install folder at a drive root";
}

TEST(SameFile, IsOneFileByIdentityWhateverItsName) {
    const std::wstring folder = MakeWorkFolder(L"same");
    WriteBytes(folder + L"\\editor.exe", "editor");
    CopyFileW((folder + L"\\editor.exe").c_str(), (folder + L"\\copy.exe").c_str(), FALSE);
    CreateHardLinkW((folder + L"\\link.exe").c_str(), (folder + L"\\editor.exe").c_str(), nullptr);
    EXPECT_TRUE(IsSameFile(folder + L"\\editor.exe", folder + L"\\link.exe"));
    EXPECT_FALSE(IsSameFile(folder + L"\\editor.exe", folder + L"\\copy.exe"));
    EXPECT_FALSE(IsSameFile(folder + L"\\missing.exe", folder + L"\\missing.exe"));
}

} // namespace
