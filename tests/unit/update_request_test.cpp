// The command-line check: which argument lists become a request, which are
// refused (exit code 2) and which throw (exit code 7), and what the request
// then holds.

#include "app/paths.h"
#include "app/update_request.h"
#include "argument_fuzz.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

namespace {

// Exactly nine elements: without the editor argument of the shared list.
std::vector<std::wstring> ValidArguments() {
    std::vector<std::wstring> arguments = ValidRequestArguments();
    arguments.pop_back();
    return arguments;
}

enum class Verdict { Accepted, Refused, Throws };

struct RequestCase {
    const char* Situation;
    std::function<void(std::vector<std::wstring>&)> Change;
    Verdict Expected;
};

Verdict Judge(const std::vector<std::wstring>& arguments) {
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    try {
        return ParseUpdateRequest(static_cast<int>(pointers.size()), pointers.data())
                   ? Verdict::Accepted
                   : Verdict::Refused;
    } catch (const std::invalid_argument&) {
        return Verdict::Throws;
    } catch (const std::out_of_range&) {
        return Verdict::Throws;
    }
}

auto Set(size_t index, std::wstring value) {
    return [index, value](std::vector<std::wstring>& arguments) { arguments[index] = value; };
}

const RequestCase RequestCases[] = {
    {"exactly nine elements", [](auto&) {}, Verdict::Accepted},
    {"editor arguments after the ninth",
     [](auto& a) {
         a.insert(a.end(), {L"--open", L"", L"x y"});
     },
     Verdict::Accepted},
    {"eight elements", [](auto& a) { a.pop_back(); }, Verdict::Refused},
    {"no elements at all", [](auto& a) { a.clear(); }, Verdict::Refused},
    {"blanks before the process id", Set(1, L"  \t4242"), Verdict::Accepted},
    {"blank after the process id", Set(1, L"4242 "), Verdict::Refused},
    {"plus sign", Set(1, L"+4242"), Verdict::Accepted},
    {"minus one wraps to the largest id", Set(1, L"-1"), Verdict::Accepted},
    {"process id 0", Set(1, L"0"), Verdict::Refused},
    {"process id minus 0", Set(1, L"-0"), Verdict::Refused},
    {"largest 32-bit id", Set(1, L"4294967295"), Verdict::Accepted},
    {"id beyond 32 bits", Set(1, L"4294967296"), Verdict::Throws},
    {"empty process id", Set(1, L""), Verdict::Throws},
    {"letters for the process id", Set(1, L"editor"), Verdict::Throws},
    {"digits then letters", Set(1, L"12ab"), Verdict::Refused},
    {"hexadecimal id", Set(1, L"0x10"), Verdict::Refused},
    {"handoff name is the bare prefix", Set(2, L"Local\\TavoPDFUpdate-"), Verdict::Accepted},
    {"handoff name of 100 units", Set(2, L"Local\\TavoPDFUpdate-" + std::wstring(80, L'x')),
     Verdict::Accepted},
    {"handoff name of 101 units", Set(2, L"Local\\TavoPDFUpdate-" + std::wstring(81, L'x')),
     Verdict::Refused},
    {"handoff prefix not at the start", Set(2, L"xLocal\\TavoPDFUpdate-1"), Verdict::Refused},
    {"handoff prefix in other letter case", Set(2, L"local\\tavopdfupdate-1"), Verdict::Refused},
    {"handoff in the global namespace", Set(2, L"Global\\TavoPDFUpdate-1"), Verdict::Refused},
    {"package path with forward slashes", Set(3, L"C:/Users/ana/update.msi"), Verdict::Accepted},
    {"package path drive and name only", Set(3, L"C:update.msi"), Verdict::Refused},
    {"package path with one leading backslash", Set(3, L"\\Users\\update.msi"), Verdict::Refused},
    {"package path bare name", Set(3, L"update.msi"), Verdict::Refused},
    {"package on a network share", Set(3, L"\\\\server\\share\\update.msi"), Verdict::Accepted},
    {"package behind a device prefix", Set(3, L"\\\\?\\C:\\update.msi"), Verdict::Accepted},
    {"package behind the object-manager prefix", Set(3, L"\\??\\C:\\update.msi"),
     Verdict::Accepted},
    {"object-manager prefix then a separator", Set(3, L"\\??\\\\update.msi"), Verdict::Refused},
    {"three leading separators", Set(3, L"\\\\\\server\\update.msi"), Verdict::Refused},
    {"drive letter that is not a letter", Set(3, L"1:\\update.msi"), Verdict::Refused},
    {"package path that does not exist", Set(3, L"Z:\\nowhere\\none.msi"), Verdict::Accepted},
    {"checksum in any form passes here", Set(4, L"not checked here"), Verdict::Accepted},
    {"editor file name in capitals", Set(5, L"C:\\Tavo\\TAVOPDFEDITOR.EXE"), Verdict::Accepted},
    {"editor path with forward slashes", Set(5, L"C:/Tavo/tavoPDFEditor.exe"), Verdict::Accepted},
    {"another program as the editor", Set(5, L"C:\\Tavo\\NorvexViewer.exe"), Verdict::Refused},
    {"editor name with something after it", Set(5, L"C:\\Tavo\\tavoPDFEditor.exe.bak"),
     Verdict::Refused},
    {"editor path not absolute", Set(5, L"tavoPDFEditor.exe"), Verdict::Refused},
    {"editor in a drive root", Set(5, L"C:\\tavoPDFEditor.exe"), Verdict::Accepted},
    {"target version in any form passes here", Set(6, L"latest"), Verdict::Accepted},
    {"package kind exe", Set(7, L"exe"), Verdict::Accepted},
    {"package kind in capitals", Set(7, L"MSI"), Verdict::Refused},
    {"package kind in mixed case", Set(7, L"Exe"), Verdict::Refused},
    {"package kind with a blank", Set(7, L"msi "), Verdict::Refused},
    {"status path with forward slashes", Set(8, L"C:/Temp/status.txt"), Verdict::Accepted},
    {"status path not absolute", Set(8, L"status.txt"), Verdict::Refused},
};

TEST(UpdateRequestCheck, EachArgumentListGetsItsVerdict) {
    for (const RequestCase& c : RequestCases) {
        std::vector<std::wstring> arguments = ValidArguments();
        c.Change(arguments);
        EXPECT_EQ(Judge(arguments), c.Expected) << c.Situation;
    }
}

// The process id is read before the other checks refuse anything, so a
// malformed id throws even when everything else is wrong too.
TEST(UpdateRequestCheck, MalformedProcessIdThrowsEvenWhenOtherArgumentsAreBad) {
    std::vector<std::wstring> arguments = ValidArguments();
    arguments[1] = L"abc";
    arguments[7] = L"zip";
    EXPECT_EQ(Judge(arguments), Verdict::Throws);
}

TEST(UpdateRequestCheck, AcceptedRequestHoldsTheArgumentsInTheirRequiredForms) {
    std::vector<std::wstring> arguments = ValidArguments();
    arguments[1] = L"-1";
    arguments[3] = L"C:/Users/ana/update.msi";
    arguments[4] = L"  ABCdef  ";
    arguments[5] = L"D:/Apps/Tavo PDF//TAVOPDFEDITOR.EXE";
    arguments[7] = L"exe";
    arguments[8] = L"C:/Temp/status.txt";
    arguments.insert(arguments.end(), {L"", L"--page=3"});
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& argument : arguments) {
        pointers.push_back(argument.c_str());
    }

    const std::optional<UpdateRequest> request =
        ParseUpdateRequest(static_cast<int>(pointers.size()), pointers.data());

    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->EditorProcessId, 4294967295u);
    EXPECT_EQ(request->HandoffName, L"Local\\TavoPDFUpdate-3f2a");
    EXPECT_EQ(request->PackagePath, L"C:\\Users\\ana\\update.msi");
    EXPECT_EQ(request->ExpectedChecksum, L"  ABCdef  ");
    EXPECT_EQ(request->EditorPath, L"D:\\Apps\\Tavo PDF\\\\TAVOPDFEDITOR.EXE");
    EXPECT_EQ(request->InstallFolder, L"D:\\Apps\\Tavo PDF");
    EXPECT_EQ(request->TargetVersion, L"2.0");
    EXPECT_EQ(request->PackageKind, PackageFormat::Exe);
    EXPECT_EQ(request->StatusFilePath, L"C:/Temp/status.txt");
    EXPECT_EQ(request->EditorArguments, (std::vector<std::wstring>{L"", L"--page=3"}));
}

TEST(ParentFolder, DropsTheLastComponentAndKeepsADriveRoot) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Program Files\\Tavo PDF\\tavoPDFEditor.exe", L"C:\\Program Files\\Tavo PDF"},
        {L"C:\\tavoPDFEditor.exe", L"C:\\"},
        {L"C:\\\\\\tavoPDFEditor.exe", L"C:\\"},
        {L"C:\\Apps\\\\tavoPDFEditor.exe", L"C:\\Apps"},
        {L"\\\\server\\share\\tavoPDFEditor.exe", L"\\\\server\\share"},
        {L"\\\\?\\C:\\tavoPDFEditor.exe", L"\\\\?\\C:\\"},
        {L"tavoPDFEditor.exe", L""},
    };
    for (const auto& [path, parent] : cases) {
        EXPECT_EQ(ParentFolder(path), parent) << path;
    }
}

} // namespace
