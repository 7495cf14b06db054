// The installer phase's small decisions, including the two that Wine cannot
// produce for real: a declined elevation prompt and a system directory that
// does not fit the buffer.

#include "app/outcomes.h"
#include "install/installer_run.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallerStartFailure, OnlyADeclinedPromptReadsAsCancelledPermission) {
    const std::pair<DWORD, const wchar_t*> cases[] = {
        {1223, L"Installation permission was cancelled."},
        {0, L"Cannot start the installer."},
        {2, L"Cannot start the installer."},
        {5, L"Cannot start the installer."},
        {1222, L"Cannot start the installer."},
        {1224, L"Cannot start the installer."},
        {0xFFFFFFFF, L"Cannot start the installer."},
    };
    for (const auto& [lastError, text] : cases) {
        EXPECT_STREQ(InstallerStartFailureText(lastError), text) << lastError;
    }
}

TEST(SystemDirectory, OnlyAnAnswerThatFitsTheBufferGivesAnInstallerPath) {
    wchar_t buffer[SystemDirectoryBufferLength] = L"C:\\windows\\system32";
    EXPECT_EQ(MsiexecPathFromSystemDirectory(19, buffer, SystemDirectoryBufferLength),
              std::optional<std::wstring>(L"C:\\windows\\system32\\msiexec.exe"));
    EXPECT_EQ(MsiexecPathFromSystemDirectory(259, buffer, SystemDirectoryBufferLength)->size(),
              259u + 12u);
    // 0 is a failure; 260 and more is the size the call would need, so the
    // buffer holds no usable directory.
    for (const UINT answer : {0u, 260u, 261u, 32767u}) {
        EXPECT_FALSE(MsiexecPathFromSystemDirectory(answer, buffer, SystemDirectoryBufferLength))
            << answer;
    }
}

TEST(InstallerExitCode, ZeroAlwaysAndRestartRequiredOnlyFromWindowsInstaller) {
    struct Case {
        bool IsMsi;
        DWORD Code;
        bool Accepted;
    };
    const Case cases[] = {{true, 0, true},      {false, 0, true},    {true, 3010, true},
                          {false, 3010, false}, {true, 1, false},    {false, 1, false},
                          {true, 1641, false},  {true, 1603, false}, {false, 0xC0000005, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(IsAcceptedInstallerExitCode(c.IsMsi, c.Code), c.Accepted)
            << (c.IsMsi ? "msi " : "exe ") << c.Code;
    }
    EXPECT_STREQ(InstalledText(0), L"Installed successfully.");
    EXPECT_STREQ(InstalledText(3010), L"Installed; Windows restart may also be required.");
}

} // namespace
