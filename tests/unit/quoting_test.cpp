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
    std::vector<std::wstring> arguments;
    for (int index = 0; split != nullptr && index < count; ++index) {
        arguments.emplace_back(split[index]);
    }
    LocalFree(split);
    return arguments;
}

TEST(QuoteArgument, EscapesBackslashesOnlyBeforeQuotes) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"", L"\"\""},
        {L"plain", L"\"plain\""},
        {L"two words", L"\"two words\""},
        {L"tab\there", L"\"tab\there\""},
        {L"C:\\Program Files\\Tavo PDF", L"\"C:\\Program Files\\Tavo PDF\""},
        {L"ends\\\\", L"\"ends\\\\\\\\\""},
        {L"\\\"", L"\"\\\\\\\"\""},
        {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
        {L"a\\\\\\\"b", L"\"a\\\\\\\\\\\\\\\"b\""},
        {L"中文", L"\"中文\""},
    };
    for (const auto& [argument, quoted] : cases) {
        EXPECT_EQ(QuoteArgument(argument), quoted) << testing::PrintToString(argument);
    }
}

// Random argument lists over an alphabet that makes quoting hard, quoted and
// joined as the restart does, split back by CommandLineToArgvW.
TEST(QuoteArgument, TenThousandRandomArgumentListsSplitBackExactly) {
    const std::wstring alphabet = L"\\\\\\\"\"\"  \t\tab/:.-é中\u00A0\u3000";
    const unsigned seed = 20261206;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> argumentCount(0, 6);
    std::uniform_int_distribution<int> argumentLength(0, 12);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size());
    const std::wstring program = L"C:\\Program Files\\Tavo PDF\\tavoPDFEditor.exe";

    for (int round = 0; round < 10000; ++round) {
        std::vector<std::wstring> arguments(static_cast<size_t>(argumentCount(random)));
        for (std::wstring& argument : arguments) {
            const int length = argumentLength(random);
            for (int unit = 0; unit < length; ++unit) {
                const size_t choice = pick(random);
                if (choice == alphabet.size()) {
                    argument += L"\U0001F600"; // a surrogate pair
                } else {
                    argument += alphabet[choice];
                }
            }
        }
        const std::wstring commandLine =
            BuildRestartCommandLine(program, JoinRestartArguments(arguments));
        std::vector<std::wstring> expected = {program};
        expected.insert(expected.end(), arguments.begin(), arguments.end());
        ASSERT_EQ(SplitWithWindows(commandLine), expected)
            << "seed " << seed << ", round " << round << ", command line "
            << testing::PrintToString(commandLine);
    }
}

TEST(RestartCommandLine, QuotesThePathAndAddsArgumentsOnlyWhenThereAreSome) {
    const std::wstring editor = L"C:\\Program Files\\Tavo PDF\\tavoPDFEditor.exe";
    EXPECT_EQ(BuildRestartCommandLine(editor, JoinRestartArguments({})), L"\"" + editor + L"\"");
    EXPECT_EQ(BuildRestartCommandLine(editor, JoinRestartArguments({L""})),
              L"\"" + editor + L"\" \"\"");
    EXPECT_EQ(BuildRestartCommandLine(editor, JoinRestartArguments({L"a b", L"c\\", L"d\"e"})),
              L"\"" + editor + L"\" \"a b\" \"c\\\\\" \"d\\\"e\"");
}

struct ParametersCase {
    const char* Situation;
    bool IsMsi;
    const wchar_t* Package;
    const wchar_t* Folder;
    const wchar_t* StatusPath;
    const wchar_t* Expected;
};

TEST(InstallerParameters, EachPackageKindGetsItsSilentForm) {
    const ParametersCase cases[] = {
        {"msi with blanks", true, L"C:\\Users\\ana\\Down loads\\up date.msi",
         L"C:\\Program Files\\Tavo PDF", L"C:\\Temp\\update.txt",
         L"/i \"C:\\Users\\ana\\Down loads\\up date.msi\" /qn /norestart REBOOT=ReallySuppress "
         L"MSIRESTARTMANAGERCONTROL=Disable INSTALLFOLDER=\"C:\\Program Files\\Tavo PDF\" /L*v "
         L"\"C:\\Temp\\update.txt.msi.log\""},
        {"msi into a drive root", true, L"D:\\u.msi", L"C:\\", L"D:\\s",
         L"/i \"D:\\u.msi\" /qn /norestart REBOOT=ReallySuppress "
         L"MSIRESTARTMANAGERCONTROL=Disable INSTALLFOLDER=\"C:\\\\\" /L*v \"D:\\s.msi.log\""},
        {"msi with a slashed status path", true, L"D:\\u.msi", L"C:\\T", L"C:/Temp/s.txt",
         L"/i \"D:\\u.msi\" /qn /norestart REBOOT=ReallySuppress "
         L"MSIRESTARTMANAGERCONTROL=Disable INSTALLFOLDER=\"C:\\T\" /L*v "
         L"\"C:/Temp/s.txt.msi.log\""},
        {"exe with blanks stays unquoted", false, L"C:\\Users\\ana\\setup.exe",
         L"C:\\Program Files\\Tavo PDF", L"C:\\Temp\\update.txt",
         L"/S /D=C:\\Program Files\\Tavo PDF"},
        {"exe into a drive root", false, L"D:\\setup.exe", L"C:\\", L"D:\\s", L"/S /D=C:\\"},
    };
    for (const ParametersCase& c : cases) {
        EXPECT_EQ(BuildInstallerParameters(c.IsMsi, c.Package, c.Folder, MsiLogPath(c.StatusPath)),
                  c.Expected)
            << c.Situation;
    }
}

} // namespace
