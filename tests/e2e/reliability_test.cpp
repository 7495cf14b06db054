// Bad packages, faults and races against the real helper: it refuses what it
// cannot verify, never lets the verified package change, and always leaves
// the user with an editor.

#include "damaged_packages.h"
#include "outcome_table.h"

#include <gtest/gtest.h>

namespace {

const wchar_t Mismatch[] = L"Unsupported installer or release version mismatch.";

Arrangement GeneratedExe(VersionResourceDamage damage) {
    return [damage](UpdateScenario& s, std::shared_ptr<void>&) {
        s.PackageKind = L"exe";
        s.PackageFileName = L"Tavo PDF Setup 2.0.exe";
        s.MakePackage = [damage](const std::wstring& folder) {
            return MakeSetupWithVersionResource(folder, damage);
        };
    };
}

Arrangement GeneratedMsi(std::wstring (*make)(const std::wstring&)) {
    return [make](UpdateScenario& s, std::shared_ptr<void>&) { s.MakePackage = make; };
}

// An open handle on a file in the scenario, held by this (another) process.
std::shared_ptr<void> HoldFile(const std::wstring& path, DWORD access, DWORD share) {
    HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << "could not hold the file";
    return std::shared_ptr<void>(file, [](void* handle) {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    });
}

const OutcomeCase ReliabilityCases[] = {
    {"MsiThatIsNotADatabase", GeneratedMsi(&MakeMsiThatIsNotADatabase), 4, Mismatch, false, false,
     L"editor-1.0", 0},
    {"TruncatedMsi", GeneratedMsi(&MakeTruncatedMsi), 4, Mismatch, false, false, L"editor-1.0", 0},
    {"ExeWithBadVersionSignature", GeneratedExe(VersionResourceDamage::BadSignature), 4, Mismatch,
     false, false, L"editor-1.0", 0},
    {"ExeWithShortFixedVersion", GeneratedExe(VersionResourceDamage::ShortFixedInfo), 4, Mismatch,
     false, false, L"editor-1.0", 0},
    {"ExeWithUnterminatedForeignName", GeneratedExe(VersionResourceDamage::UnterminatedOtherName),
     4, Mismatch, false, false, L"editor-1.0", 0},
    {"ExeWithShortTranslationTable", GeneratedExe(VersionResourceDamage::ShortTranslationTable), 4,
     Mismatch, false, false, L"editor-1.0", 0},
    {"ExeWithoutTranslationTable", GeneratedExe(VersionResourceDamage::NoTranslationTable), 4,
     Mismatch, false, false, L"editor-1.0", 0},
    {"ZeroByteExe",
     [](UpdateScenario& s, std::shared_ptr<void>&) {
         s.PackageKind = L"exe";
         s.MakePackage = [](const std::wstring& folder) {
             WriteBytes(folder + L"\\empty.exe", "");
             return folder + L"\\empty.exe";
         };
     },
     4, L"Update checksum failed.", false, false, L"editor-1.0", 0},
    {"PackageHeldOpenForWritingByAnotherProcess",
     [](UpdateScenario& s, std::shared_ptr<void>& held) {
         s.BeforeHelperStarts = [&held](const ScenarioFolders& f) {
             held = HoldFile(f.PackagePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
         };
     },
     4, L"Update checksum failed.", false, false, L"editor-1.0", 0},
    {"EditorKilledBeforeDeciding",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.Choice = EditorChoice::KilledUndecided; }, 0,
     std::nullopt, false, false, L"editor-1.0", 0},
    {"EditorCommitsAndIsKilled",
     [](UpdateScenario& s, std::shared_ptr<void>&) { s.Choice = EditorChoice::CommitAndKilled; }, 0,
     L"Installed successfully.", false, false, L"editor-2.0", 1},
    {"InstallerCrashes", ExeSetup(L"setup-crashes.exe"), 6,
     L"Installation failed. Exit code: 3221225477", true, false, L"editor-1.0", 1},
    {"StatusFolderMissing",
     [](UpdateScenario& s, std::shared_ptr<void>& held) {
         ExeSetup(L"setup-exit0.exe")(s, held);
         s.EditArguments = [](std::vector<std::wstring> arguments) {
             arguments[7] = arguments[7].substr(0, arguments[7].rfind(L'\\')) +
                            L"\\Missing\\update status.txt";
             return arguments;
         };
     },
     0, std::nullopt, false, false, L"editor-2.0", 1},
    {"StatusFileLockedByAnotherProcess",
     [](UpdateScenario& s, std::shared_ptr<void>& held) {
         s.BeforeHelperStarts = [&held](const ScenarioFolders& f) {
             WriteBytes(f.StatusPath, "held by another program");
             held = HoldFile(f.StatusPath, GENERIC_READ, 0);
         };
         s.AfterHelperEnds = [&held](const ScenarioFolders&) { held.reset(); };
     },
     0, L"held by another program", false, false, L"editor-2.0", 1},
    {"StatusFileLockedWhenTheChecksumFails",
     [](UpdateScenario& s, std::shared_ptr<void>& held) {
         s.Checksum = std::wstring(64, L'f');
         s.BeforeHelperStarts = [&held](const ScenarioFolders& f) {
             WriteBytes(f.StatusPath, "held by another program");
             held = HoldFile(f.StatusPath, GENERIC_READ, 0);
         };
         s.AfterHelperEnds = [&held](const ScenarioFolders&) { held.reset(); };
     },
     4, L"held by another program", false, false, L"editor-1.0", 0},
};

INSTANTIATE_TEST_SUITE_P(Reliability, UpdateOutcome, testing::ValuesIn(ReliabilityCases),
                         SituationName);

// While the helper waits for the editor's decision, another process tries to
// change the verified package in every way it can; then the update goes on
// and installs exactly the bytes that were hashed.
TEST(VerifiedPackage, CannotBeWrittenDeletedOrRenamedUntilItIsInstalled) {
    UpdateScenario scenario;
    scenario.Package = L"setups\\setup-exit0.exe";
    scenario.PackageFileName = L"Tavo PDF Setup 2.0.exe";
    scenario.PackageKind = L"exe";
    std::vector<std::string> succeeded;
    scenario.AfterReady = [&succeeded](const ScenarioFolders& f) {
        const HANDLE writer =
            CreateFileW(f.PackagePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (writer != INVALID_HANDLE_VALUE) {
            succeeded.push_back("open for writing");
            CloseHandle(writer);
        }
        if (DeleteFileW(f.PackagePath.c_str())) {
            succeeded.push_back("delete");
        }
        if (MoveFileW(f.PackagePath.c_str(), (f.PackagePath + L".moved").c_str())) {
            succeeded.push_back("rename");
        }
        if (CopyFileW((FixturesFolder() + L"\\setups\\setup-exit1.exe").c_str(),
                      f.PackagePath.c_str(), FALSE)) {
            succeeded.push_back("overwrite by copy");
        }
    };
    const ScenarioOutcome outcome = RunScenario(scenario);

    EXPECT_TRUE(succeeded.empty()) << "changed the verified package: " << succeeded.front();
    ASSERT_TRUE(outcome.HelperEnded);
    EXPECT_EQ(outcome.ExitCode, 0u);
    EXPECT_EQ(outcome.StatusBytes.value_or("(none)"), "Installed successfully.");
    EXPECT_TRUE(ReadBytes(outcome.Folders.PackagePath) == FixtureBytes(L"setups\\setup-exit0.exe"));
    EXPECT_TRUE(outcome.InstalledEditorBytes == FixtureBytes(L"editor-2.0\\tavoPDFEditor.exe"));
}

} // namespace
