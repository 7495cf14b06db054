// The installer phase's decisions that Wine cannot produce for real: a
// declined elevation prompt and a system directory that does not fit.

#include "install/installer_run.h"

#include <gtest/gtest.h>

namespace {

TEST(InstallerStartFailure, OnlyADeclinedPromptReadsAsCancelledPermission) {
    EXPECT_STREQ(InstallerStartFailureText(1223), L"Installation permission was cancelled.");
    for (const DWORD other : {0ul, 2ul, 5ul, 1222ul, 1224ul, 0xFFFFFFFFul}) {
        EXPECT_STREQ(InstallerStartFailureText(other), L"Cannot start the installer.") << other;
    }
}

TEST(SystemDirectory, OnlyAnAnswerThatFitsTheBufferGivesAnInstallerPath) {
    wchar_t buffer[SystemDirectoryBufferLength] = L"C:\\windows\\system32";
    EXPECT_EQ(MsiexecPathFromSystemDirectory(19, buffer, SystemDirectoryBufferLength),
              std::optional<std::wstring>(L"C:\\windows\\system32\\msiexec.exe"));
    EXPECT_TRUE(MsiexecPathFromSystemDirectory(259, buffer, SystemDirectoryBufferLength));
    // 0 is a failure; 260 and more is the size the call would need, so the
    // buffer holds no usable directory.
    for (const UINT answer : {0u, 260u, 261u, 32767u}) {
        EXPECT_FALSE(MsiexecPathFromSystemDirectory(answer, buffer, SystemDirectoryBufferLength))
            << answer;
    }
}

} // namespace
