// The status file's exact bytes and the form of numbers in outcome texts.

#include "app/outcomes.h"
#include "editor_side.h"
#include "report/failure_dialog.h"
#include "report/status_file.h"

#include <gtest/gtest.h>

namespace {

TEST(StatusFile, HoldsExactlyTheUtf8TextWithNoMarkLineEndOrZero) {
    const std::wstring path = MakeWorkFolder(L"status") + L"\\status.txt";
    WriteStatusFile(path, L"Installed successfully.");
    EXPECT_EQ(ReadBytes(path), std::optional<std::string>("Installed successfully."));

    WriteStatusFile(path, L"é中\U0001F600");
    EXPECT_EQ(ReadBytes(path), std::optional<std::string>("\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"));
}

TEST(StatusFile, LongerEarlierTextLeavesNoBytesBehind) {
    const std::wstring path = MakeWorkFolder(L"status") + L"\\status.txt";
    WriteStatusFile(path, TextInstalledNotOlder);
    WriteStatusFile(path, L"Installed successfully.");
    EXPECT_EQ(ReadBytes(path), std::optional<std::string>("Installed successfully."));
}

TEST(StatusFile, MissingFolderIsSilentlySkipped) {
    const std::wstring folder = MakeWorkFolder(L"status") + L"\\not there";
    WriteStatusFile(folder + L"\\status.txt", L"Installed successfully.");
    EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(StatusFile, FileLockedByAnotherWriterIsLeftAlone) {
    const std::wstring path = MakeWorkFolder(L"status") + L"\\status.txt";
    WriteBytes(path, "theirs");
    const HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    WriteStatusFile(path, L"Installed successfully.");
    CloseHandle(other);
    EXPECT_EQ(ReadBytes(path), std::optional<std::string>("theirs"));
}

TEST(CodeMessage, NumbersAreUnsignedDecimalRightAfterThePrefix) {
    const std::tuple<const wchar_t*, std::uint32_t, const wchar_t*> cases[] = {
        {TextInstallationFailed, 4294967295u, L"Installation failed. Exit code: 4294967295"},
        {TextInstallationFailed, 1, L"Installation failed. Exit code: 1"},
        {TextInstallationFailed, 0xC0000005u, L"Installation failed. Exit code: 3221225477"},
        {TextHandoffOpenFailed, 2,
         L"Cannot open update handoff events or editor process. Windows error: 2"},
        {TextReadySignalFailed, 0, L"Cannot signal update readiness. Windows error: 0"},
    };
    for (const auto& [prefix, code, text] : cases) {
        EXPECT_EQ(FormatCodeMessage(prefix, code), text);
    }
}

TEST(FailureDialogText, ShowsOutcomeLogPathAndBilingualNotice) {
    EXPECT_EQ(BuildFailureDialogText(L"Cannot locate Windows Installer.", L"C:/Temp/s.txt"),
              L"Cannot locate Windows Installer.\n\nLog: C:/Temp/s.txt\n"
              L"更新未完成，将尝试重新打开编辑器。\nThe editor will be reopened if available.");
    EXPECT_EQ(std::wstring(DialogReopeningNotice).size(), 60u);
    EXPECT_EQ(std::wstring(DialogReopenFailed).size(), 112u);
}

} // namespace
