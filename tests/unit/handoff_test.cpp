// The running-application scan against real processes (copies of the
// stand-in under suite and other names, from the install folder and
// elsewhere), the verdict on processes Wine always lets us inspect, and the
// parent check's file identity.

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
    // Processes that do not count come first: a leftover of a counting case
    // could hide a wrong answer.
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"\\plugins\\NorvexViewer.exe", false},
        {L" 2\\NorvexViewer.exe", false},
        {L"\\NorvexViewer2.exe", false},
        {L"\\xNorvexTool.exe", false},
        {L"\\NorvexViewer.exe.exe", false},
        {L"\\tavoPDFEditor.exe", true},
        {L"\\NorvexViewer.exe", true},
        {L"\\NORVEXorganizer.EXE", true},
        {L"\\NorvexCompare.exe", true},
        {L"\\NorvexStarter.exe", true},
        {L"\\NorvexTool.exe", true},
    };
    std::wstring lowerCase = install;
    CharLowerW(lowerCase.data());
    for (const auto& [name, counts] : cases) {
        StartedProcess application = StartStandIn(install + name);
        EXPECT_EQ(IsSuiteApplicationRunning(lowerCase, 0), counts) << name;
        EXPECT_FALSE(IsSuiteApplicationRunning(install, application.ProcessId))
            << name << ": the editor that started the helper is skipped";
        EndProcess(application);
    }
}

TEST(SuiteScan, DriveRootInstallFolderCountsApplicationsDirectlyInTheRoot) {
    StartedProcess tool = StartStandIn(L"C:\\NorvexTool.exe");
    EXPECT_TRUE(IsSuiteApplicationRunning(L"C:\\", 0));
    EndProcess(tool);
    DeleteFileW(L"C:\\NorvexTool.exe");
}

// Wine lets every process be opened and inspected, so the fail-closed
// verdict is checked on its own.
TEST(SuiteScan, SuiteProcessThatCannotBeCheckedCountsAsRunning) {
    const std::wstring folder = L"C:\\Program Files\\Tavo PDF";
    const std::wstring inFolder = folder + L"\\NorvexViewer.exe";
    const std::wstring elsewhere = L"D:\\Other\\NorvexViewer.exe";
    EXPECT_TRUE(SuiteProcessCounts(false, nullptr, folder)) << "could not be opened";
    EXPECT_TRUE(SuiteProcessCounts(true, nullptr, folder)) << "image path unreadable";
    EXPECT_TRUE(SuiteProcessCounts(true, &inFolder, folder));
    EXPECT_FALSE(SuiteProcessCounts(true, &elsewhere, folder));
}

TEST(SameFile, IsDecidedByFileIdentityNotByText) {
    const std::wstring folder = MakeWorkFolder(L"same");
    const std::wstring file = folder + L"\\tavoPDFEditor.exe";
    WriteBytes(file, "editor");
    CopyFileW(file.c_str(), (folder + L"\\copy.exe").c_str(), FALSE);
    CreateHardLinkW((folder + L"\\link.exe").c_str(), file.c_str(), nullptr);
    std::wstring upperCase = file;
    CharUpperW(upperCase.data());
    EXPECT_TRUE(IsSameFile(file, upperCase));
    EXPECT_TRUE(IsSameFile(file, folder + L"\\link.exe"));
    EXPECT_FALSE(IsSameFile(file, folder + L"\\copy.exe"));
    EXPECT_FALSE(IsSameFile(folder + L"\\missing.exe", folder + L"\\missing.exe"));
}

} // namespace
