// The status file's exact bytes and the form of numbers in outcome texts
// (missing and locked status files run end to end in reliability_test).

#include "app/outcomes.h"
#include "editor_side.h"
#include "report/status_file.h"

#include <gtest/gtest.h>

namespace {

TEST(StatusFile, EachWriteLeavesExactlyItsUtf8TextAndNoLeftoverBytes) {
    const std::wstring path = MakeWorkFolder(L"status") + L"\\status.txt";
    WriteStatusFile(path, TextInstalledNotOlder);
    WriteStatusFile(path, L"é中\U0001F600");
    EXPECT_EQ(ReadBytes(path), std::optional<std::string>("\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"));
}

TEST(CodeMessage, NumbersAreUnsignedDecimalRightAfterThePrefix) {
    EXPECT_EQ(FormatCodeMessage(TextInstallationFailed, 4294967295u),
              L"Installation failed. Exit code: 4294967295");
    EXPECT_EQ(FormatCodeMessage(TextReadySignalFailed, 0),
              L"Cannot signal update readiness. Windows error: 0");
}

} // namespace
