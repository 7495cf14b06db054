// The running-application scan against real processes in the Wine prefix:
// copies of a stand-in application started under suite and other names,
// from the install folder and elsewhere.

#include "editor_side.h"
#include "handoff/suite_scan.h"

#include <gtest/gtest.h>

#include <cwctype>

#include <vector>

namespace {

struct Running {
    std::wstring Subfolder; // below the test folder; "" for the folder itself
    std::wstring Name;
};

struct ScanCase {
    const char* Situation;
    std::vector<Running> Processes;
    bool InstallFolderInLowerCase;
    bool Expected;
};

std::vector<StartedProcess> StartAll(const std::wstring& root, const std::vector<Running>& all) {
    std::vector<StartedProcess> started;
    for (const Running& running : all) {
        const std::wstring folder =
            running.Subfolder.empty() ? root : root + L"\\" + running.Subfolder;
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring path = folder + L"\\" + running.Name;
        CopyFileOver(FixturesFolder() + L"\\suite_app.exe", path);
        started.push_back(StartProcess(path, L"\"" + path + L"\"", folder));
    }
    Sleep(300);
    return started;
}

TEST(SuiteScan, FindsSuiteApplicationsRunningFromTheInstallFolderOnly) {
    const ScanCase cases[] = {
        {"nothing of the suite runs", {}, false, false},
        {"viewer in the install folder", {{L"", L"NorvexViewer.exe"}}, false, true},
        {"viewer name in other letter case", {{L"", L"NORVEXviewer.EXE"}}, false, true},
        {"install folder given in lower case", {{L"", L"NorvexTool.exe"}}, true, true},
        {"every other suite name",
         {{L"", L"NorvexOrganizer.exe"}, {L"", L"NorvexCompare.exe"}, {L"", L"NorvexStarter.exe"}},
         false,
         true},
        {"second editor instance", {{L"", L"tavoPDFEditor.exe"}}, false, true},
        {"viewer in a subfolder", {{L"plugins", L"NorvexViewer.exe"}}, false, false},
        {"viewer in another installation",
         {{L"..\\other install", L"NorvexViewer.exe"}},
         false,
         false},
        {"names that only resemble the suite's",
         {{L"", L"NorvexViewer2.exe"}, {L"", L"xNorvexViewer.exe"}, {L"", L"NorvexViewer.exe.exe"}},
         false,
         false},
    };
    for (const ScanCase& c : cases) {
        const std::wstring root = MakeWorkFolder(L"scan") + L"\\Tavo PDF";
        CreateDirectoryW(root.c_str(), nullptr);
        std::vector<StartedProcess> started = StartAll(root, c.Processes);
        std::wstring installFolder = root;
        for (wchar_t& unit : installFolder) {
            unit = c.InstallFolderInLowerCase ? static_cast<wchar_t>(towlower(unit)) : unit;
        }
        EXPECT_EQ(IsSuiteApplicationRunning(installFolder, 0), c.Expected) << c.Situation;
        for (StartedProcess& process : started) {
            EndProcess(process);
        }
    }
}

TEST(SuiteScan, EditorThatStartedTheHelperIsSkippedByItsProcessId) {
    const std::wstring root = MakeWorkFolder(L"scan");
    std::vector<StartedProcess> started = StartAll(root, {{L"", L"tavoPDFEditor.exe"}});
    EXPECT_FALSE(IsSuiteApplicationRunning(root, started[0].ProcessId));
    EXPECT_TRUE(IsSuiteApplicationRunning(root, started[0].ProcessId + 4));
    EndProcess(started[0]);
}

TEST(SuiteScan, DriveRootInstallFolderCountsApplicationsDirectlyInTheRoot) {
    const std::wstring path = L"C:\\NorvexTool.exe";
    CopyFileOver(FixturesFolder() + L"\\suite_app.exe", path);
    StartedProcess tool = StartProcess(path, L"\"" + path + L"\"", L"C:\\");
    Sleep(300);
    EXPECT_TRUE(IsSuiteApplicationRunning(L"C:\\", 0));
    EndProcess(tool);
    DeleteFileW(path.c_str());
}

} // namespace

namespace {

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

} // namespace
