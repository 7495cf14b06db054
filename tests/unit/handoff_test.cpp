// The running-application scan against real processes (copies of the
// stand-in under suite and other names, in the install folder and elsewhere),
// the verdict on processes that cannot be inspected, which Wine never
// produces, and the parent check's file identity.

#include "editor_side.h"
#include "handoff/handoff.h"
#include "handoff/suite_scan.h"

#include <gtest/gtest.h>

namespace {

TEST(SuiteScan, CountsSuiteNamesRunningFromTheInstallFolderOnly) {
    const std::wstring install = MakeWorkFolder(L"scan") + L"\\Tavo PDF";
    for (const wchar_t* folder : {L"", L"\\plugins", L" 2"}) {
        CreateDirectoryW((install + folder).c_str(), nullptr);
    }
    // Those that do not count come first: one left running would hide them.
    // clang-format off
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"\\plugins\\NorvexViewer.exe", false}, {L" 2\\NorvexViewer.exe", false},
        {L"\\NorvexViewer2.exe", false}, {L"\\xNorvexTool.exe", false}, {L"\\NorvexTool.exe.exe", false},
        {L"\\tavoPDFEditor.exe", true}, {L"\\NorvexViewer.exe", true}, {L"\\NORVEXorganizer.EXE", true},
        {L"\\NorvexCompare.exe", true}, {L"\\NorvexStarter.exe", true}, {L"\\NorvexTool.exe", true}};
    // clang-format on
    std::wstring lowerCase = install;
    CharLowerW(lowerCase.data());
    for (const auto& [name, counts] : cases) {
        StartedProcess application = StartStandIn(install + name);
        EXPECT_EQ(IsSuiteApplicationRunning(lowerCase, 0), counts) << name;
        EXPECT_FALSE(IsSuiteApplicationRunning(install, application.ProcessId)) << name;
        EndProcess(application);
    }
}

TEST(SuiteScan, DriveRootInstallFolderCountsApplicationsDirectlyInTheRoot) {
    StartedProcess tool = StartStandIn(L"C:\\NorvexTool.exe");
    EXPECT_TRUE(IsSuiteApplicationRunning(L"C:\\", 0));
    EndProcess(tool);
    DeleteFileW(L"C:\\NorvexTool.exe");
}

TEST(SuiteScan, SuiteProcessThatCannotBeInspectedCountsAsRunning) {
    const std::wstring image = L"C:\\Tavo PDF\\NorvexViewer.exe";
    EXPECT_TRUE(SuiteProcessCounts(false, nullptr, L"D:\\Other")) << "could not be opened";
    EXPECT_TRUE(SuiteProcessCounts(true, nullptr, L"D:\\Other")) << "image path unreadable";
    EXPECT_TRUE(SuiteProcessCounts(true, &image, L"c:\\tavo pdf"));
    EXPECT_FALSE(SuiteProcessCounts(true, &image, L"D:\\Other"));
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
