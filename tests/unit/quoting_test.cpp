// Quoting for the installer and the restarted editor: whatever the text,
// Windows' own splitting gives it back unchanged.

#include "install/editor_restart.h"
#include "install/installer_command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<std::wstring> SplitWithWindows(const std::wstring& commandLine) {
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> arguments(split, split + (split != nullptr ? count : 0));
    LocalFree(split);
    return arguments;
}

// Random argument lists over an alphabet that makes quoting hard, quoted and
// joined as the restart does, split back by CommandLineToArgvW.
TEST(QuoteArgument, TenThousandRandomArgumentListsSplitBackExactly) {
    const std::wstring alphabet = L"\\\\\\\"\"\"  \t\tab/:.-é中\u00A0\u3000";
    const unsigned seed = 20261206;
    std::mt19937 random(seed);
    const std::wstring program = L"C:\\Program Files\\Tavo PDF\\tavoPDFEditor.exe";
    for (int round = 0; round < 10000; ++round) {
        std::vector<std::wstring> arguments(random() % 7);
        for (std::wstring& argument : arguments) {
            for (unsigned unit = random() % 13; unit > 0; --unit) {
                const size_t choice = random() % (alphabet.size() + 1);
                // One choice past the alphabet stands for a surrogate pair.
                argument += choice == alphabet.size() ? L"\U0001F600" : alphabet.substr(choice, 1);
            }
        }
        std::vector<std::wstring> expected = {program};
        expected.insert(expected.end(), arguments.begin(), arguments.end());
        const std::wstring commandLine =
            BuildRestartCommandLine(program, JoinRestartArguments(arguments));
        ASSERT_EQ(SplitWithWindows(commandLine), expected)
            << "seed " << seed << ", round " << round << ", command line "
            << testing::PrintToString(commandLine);
    }
}

TEST(InstallerParameters, EachPackageKindGetsItsSilentForm) {
    struct Case {
        bool IsMsi;
        const wchar_t* Folder;
        const wchar_t* StatusPath;
        const wchar_t* Expected;
    };
    const wchar_t* const msiFlags = L" /qn /norestart REBOOT=ReallySuppress "
                                    L"MSIRESTARTMANAGERCONTROL=Disable INSTALLFOLDER=";
    const Case cases[] = {
        {true, L"C:\\Program Files\\Tavo PDF", L"C:\\Temp\\up date.txt",
         L"\"C:\\Program Files\\Tavo PDF\" /L*v \"C:\\Temp\\up date.txt.msi.log\""},
        {true, L"C:\\", L"C:/Temp/s.txt", L"\"C:\\\\\" /L*v \"C:/Temp/s.txt.msi.log\""},
        {false, L"C:\\Program Files\\Tavo PDF", L"C:\\s", L"/S /D=C:\\Program Files\\Tavo PDF"},
        {false, L"C:\\", L"C:\\s", L"/S /D=C:\\"},
    };
    for (const Case& c : cases) {
        const std::wstring expected =
            c.IsMsi ? std::wstring(L"/i \"D:\\Down loads\\u.msi\"") + msiFlags + c.Expected
                    : c.Expected;
        EXPECT_EQ(BuildInstallerParameters(c.IsMsi, L"D:\\Down loads\\u.msi", c.Folder,
                                           MsiLogPath(c.StatusPath)),
                  expected);
    }
}

} // namespace
