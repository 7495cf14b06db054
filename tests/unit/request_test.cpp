// The command-line check: which argument lists become a request, which are
// refused (exit code 2) and which throw (exit code 7), and what an accepted
// request holds.

#include "app/update_request.h"
#include "base/paths.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace {

using Arguments = std::vector<std::wstring>;

Arguments ValidArguments() {
    return {L"helper.exe",
            L"4242",
            L"Local\\TavoPDFUpdate-3f2a",
            L"C:\\Users\\ana\\update.msi",
            std::wstring(64, L'a'),
            L"C:\\Program Files\\Tavo PDF\\tavoPDFEditor.exe",
            L"2.0",
            L"msi",
            L"C:\\Temp\\status.txt"};
}

std::optional<UpdateRequest> Parse(const Arguments& arguments) {
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    return ParseUpdateRequest(static_cast<int>(pointers.size()), pointers.data());
}

enum class Verdict { Accepted, Refused, Throws };

Verdict Judge(const Arguments& arguments) {
    try {
        return Parse(arguments) ? Verdict::Accepted : Verdict::Refused;
    } catch (const std::invalid_argument&) {
        return Verdict::Throws;
    } catch (const std::out_of_range&) {
        return Verdict::Throws;
    }
}

std::function<void(Arguments&)> Set(size_t index, std::wstring value) {
    return [index, value](Arguments& arguments) { arguments[index] = value; };
}

TEST(UpdateRequestCheck, EachArgumentListGetsItsVerdict) {
    const std::tuple<const char*, std::function<void(Arguments&)>, Verdict> cases[] = {
        {"exactly nine elements", [](Arguments&) {}, Verdict::Accepted},
        {"eight elements", [](Arguments& a) { a.pop_back(); }, Verdict::Refused},
        {"blanks before the process id", Set(1, L"  \t4242"), Verdict::Accepted},
        {"blank after the process id", Set(1, L"4242 "), Verdict::Refused},
        {"digits then letters", Set(1, L"12ab"), Verdict::Refused},
        {"process id 0", Set(1, L"0"), Verdict::Refused},
        {"minus one wraps to the largest id", Set(1, L"-1"), Verdict::Accepted},
        {"largest 32-bit id", Set(1, L"4294967295"), Verdict::Accepted},
        {"id beyond 32 bits", Set(1, L"4294967296"), Verdict::Throws},
        {"empty process id", Set(1, L""), Verdict::Throws},
        {"handoff name is the bare prefix", Set(2, L"Local\\TavoPDFUpdate-"), Verdict::Accepted},
        {"handoff name of 100 units", Set(2, L"Local\\TavoPDFUpdate-" + std::wstring(80, L'x')),
         Verdict::Accepted},
        {"handoff name of 101 units", Set(2, L"Local\\TavoPDFUpdate-" + std::wstring(81, L'x')),
         Verdict::Refused},
        {"handoff name shorter than the prefix", Set(2, L"Local\\TavoPDFUpdate"), Verdict::Refused},
        {"handoff prefix not at the start", Set(2, L"xLocal\\TavoPDFUpdate-1"), Verdict::Refused},
        {"handoff prefix in other letter case", Set(2, L"local\\tavopdfupdate-1"),
         Verdict::Refused},
        {"package path drive and name only", Set(3, L"C:update.msi"), Verdict::Refused},
        {"package path with one leading backslash", Set(3, L"\\update.msi"), Verdict::Refused},
        {"package path without a drive", Set(3, L"update.msi"), Verdict::Refused},
        {"package on a network share", Set(3, L"\\\\server\\share\\u.msi"), Verdict::Accepted},
        {"three separators", Set(3, L"\\\\\\server\\u.msi"), Verdict::Refused},
        {"package behind a device prefix", Set(3, L"\\\\?\\C:\\u.msi"), Verdict::Accepted},
        {"object-manager prefix", Set(3, L"\\??\\C:\\u.msi"), Verdict::Accepted},
        {"object-manager prefix alone", Set(3, L"\\??\\"), Verdict::Accepted},
        {"object-manager prefix then a separator", Set(3, L"\\??\\\\u.msi"), Verdict::Refused},
        {"drive letter that is not a letter", Set(3, L"1:\\u.msi"), Verdict::Refused},
        {"editor path not absolute", Set(5, L"tavoPDFEditor.exe"), Verdict::Refused},
        {"editor file name in capitals", Set(5, L"C:\\T\\TAVOPDFEDITOR.EXE"), Verdict::Accepted},
        {"another program as the editor", Set(5, L"C:\\T\\NorvexViewer.exe"), Verdict::Refused},
        {"editor name with more after it", Set(5, L"C:\\T\\tavoPDFEditor.exe.bak"),
         Verdict::Refused},
        {"package kind exe", Set(7, L"exe"), Verdict::Accepted},
        {"package kind with a blank", Set(7, L"msi "), Verdict::Refused},
        {"status path not absolute", Set(8, L"status.txt"), Verdict::Refused},
    };
    for (const auto& [situation, change, verdict] : cases) {
        Arguments arguments = ValidArguments();
        change(arguments);
        EXPECT_EQ(Judge(arguments), verdict) << situation;
    }
}

TEST(UpdateRequestCheck, AcceptedRequestHoldsTheArgumentsInTheirRequiredForms) {
    Arguments arguments = ValidArguments();
    arguments[1] = L"-1";
    arguments[3] = L"C:/Users/ana/update.msi";
    arguments[4] = L"  ABCdef  ";
    arguments[5] = L"D:/Apps/Tavo PDF//TAVOPDFEDITOR.EXE";
    arguments[7] = L"exe";
    arguments[8] = L"C:/Temp/status.txt";
    arguments.insert(arguments.end(), {L"", L"--page=3"});

    const std::optional<UpdateRequest> request = Parse(arguments);

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
    EXPECT_EQ(request->EditorArguments, (Arguments{L"", L"--page=3"}));
}

TEST(ParentFolder, DropsTheLastComponentAndItsSeparatorsButNotARootsSeparator) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Tavo\\tavoPDFEditor.exe", L"C:\\Tavo"},
        {L"C:\\tavoPDFEditor.exe", L"C:\\"},
        {L"C:/\\tavoPDFEditor.exe", L"C:/"},
        {L"\\\\server\\share\\\\e.exe", L"\\\\server\\share"},
        {L"tavoPDFEditor.exe", L""},
    };
    for (const auto& [path, parent] : cases) {
        EXPECT_EQ(ParentFolder(path), parent) << testing::PrintToString(path);
    }
}

} // namespace
