// The command-line check: which argument lists become a request, which are
// refused (exit code 2) and which throw (exit code 7), and what the request
// then holds.

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
    {"blanks before the process id", Set(1, L"  \t4242"), Verdict::Accepted},
    {"blank after the process id", Set(1, L"4242 "), Verdict::Refused},
    {"minus one wraps to the largest id", Set(1, L"-1"), Verdict::Accepted},
    {"process id 0", Set(1, L"0"), Verdict::Refused},
    {"largest 32-bit id", Set(1, L"4294967295"), Verdict::Accepted},
    {"id beyond 32 bits", Set(1, L"4294967296"), Verdict::Throws},
    {"empty process id", Set(1, L""), Verdict::Throws},
    {"letters for the process id", Set(1, L"editor"), Verdict::Throws},
    {"digits then letters", Set(1, L"12ab"), Verdict::Refused},
    {"handoff name is the bare prefix", Set(2, L"Local\\TavoPDFUpdate-"), Verdict::Accepted},
    {"handoff name of 101 units", Set(2, L"Local\\TavoPDFUpdate-" + std::wstring(81, L'x')),
     Verdict::Refused},
    {"handoff prefix not at the start", Set(2, L"xLocal\\TavoPDFUpdate-1"), Verdict::Refused},
    {"handoff prefix in other letter case", Set(2, L"local\\tavopdfupdate-1"), Verdict::Refused},
    {"package path drive and name only", Set(3, L"C:update.msi"), Verdict::Refused},
    {"package path with one leading backslash", Set(3, L"\\Users\\update.msi"), Verdict::Refused},
    {"package on a network share", Set(3, L"\\\\server\\share\\update.msi"), Verdict::Accepted},
    {"package behind a device prefix", Set(3, L"\\\\?\\C:\\update.msi"), Verdict::Accepted},
    {"package behind the object-manager prefix", Set(3, L"\\??\\C:\\update.msi"),
     Verdict::Accepted},
    {"object-manager prefix then a separator", Set(3, L"\\??\\\\update.msi"), Verdict::Refused},
    {"package path that does not exist", Set(3, L"Z:\\nowhere\\none.msi"), Verdict::Accepted},
    {"editor file name in capitals", Set(5, L"C:\\Tavo\\TAVOPDFEDITOR.EXE"), Verdict::Accepted},
    {"another program as the editor", Set(5, L"C:\\Tavo\\NorvexViewer.exe"), Verdict::Refused},
    {"editor name with something after it", Set(5, L"C:\\Tavo\\tavoPDFEditor.exe.bak"),
     Verdict::Refused},
    {"editor in a drive root", Set(5, L"C:\\tavoPDFEditor.exe"), Verdict::Accepted},
    {"package kind in capitals", Set(7, L"MSI"), Verdict::Refused},
    {"status path not absolute", Set(8, L"status.txt"), Verdict::Refused},
};

TEST(UpdateRequestCheck, EachArgumentListGetsItsVerdict) {
    for (const RequestCase& c : RequestCases) {
        std::vector<std::wstring> arguments = ValidArguments();
        c.Change(arguments);
        EXPECT_EQ(Judge(arguments), c.Expected) << c.Situation;
    }
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

} // namespace
