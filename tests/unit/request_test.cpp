// The command-line check at its edges: which argument lists become a request,
// which are refused (exit code 2) and which throw (exit code 7). What an
// accepted request holds shows end to end.

#include "app/update_request.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

enum Verdict { Accepted, Refused, Throws };

Verdict Judge(std::vector<std::wstring> arguments) {
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    try {
        return ParseUpdateRequest(static_cast<int>(pointers.size()), pointers.data()) ? Accepted
                                                                                      : Refused;
    } catch (const std::logic_error&) { // std::stoul's invalid_argument and out_of_range
        return Throws;
    }
}

TEST(UpdateRequestCheck, EachArgumentGetsItsVerdict) {
    const std::vector<std::wstring> valid = {L"helper.exe",
                                             L"4242",
                                             L"Local\\TavoPDFUpdate-3f2a",
                                             L"C:\\Users\\ana\\update.msi",
                                             std::wstring(64, L'a'),
                                             L"C:\\Program Files\\Tavo PDF\\tavoPDFEditor.exe",
                                             L"2.0",
                                             L"msi",
                                             L"C:\\Temp\\status.txt"};
    const std::wstring prefix = L"Local\\TavoPDFUpdate-";
    // Argument index, its value, the verdict; index 0 changes nothing, index 9
    // drops the last argument.
    // clang-format off
    const std::tuple<size_t, std::wstring, Verdict> cases[] = {
        {0, L"", Accepted}, {9, L"", Refused},
        {1, L"  \t4242", Accepted}, {1, L"4242 ", Refused}, {1, L"12ab", Refused}, {1, L"0", Refused},
        {1, L"-1", Accepted}, {1, L"4294967295", Accepted}, {1, L"4294967296", Throws}, {1, L"", Throws},
        {2, prefix, Accepted}, {2, prefix + std::wstring(80, L'x'), Accepted},
        {2, prefix + std::wstring(81, L'x'), Refused}, {2, L"Local\\TavoPDFUpdate", Refused},
        {2, L"x" + prefix, Refused}, {2, L"local\\tavopdfupdate-1", Refused},
        {3, L"C:update.msi", Refused}, {3, L"\\update.msi", Refused}, {3, L"update.msi", Refused},
        {3, L"1:\\update.msi", Refused}, {3, L"\\\\server\\share\\u.msi", Accepted},
        {3, L"\\\\\\server\\u.msi", Refused}, {3, L"//?/C:/u.msi", Accepted},
        {3, L"\\??\\C:\\u.msi", Accepted}, {3, L"/\?\?/", Accepted}, {3, L"\\??\\\\u.msi", Refused},
        {5, L"tavoPDFEditor.exe", Refused}, {5, L"C:\\T\\TAVOPDFEDITOR.EXE", Accepted},
        {5, L"C:\\T\\NorvexViewer.exe", Refused}, {5, L"C:\\T\\tavoPDFEditor.exe.bak", Refused},
        {7, L"exe", Accepted}, {7, L"msi ", Refused}, {8, L"status.txt", Refused}};
    // clang-format on
    for (const auto& [index, value, verdict] : cases) {
        std::vector<std::wstring> arguments = valid;
        if (index == 9) {
            arguments.pop_back();
        } else if (index != 0) {
            arguments[index] = value;
        }
        EXPECT_EQ(Judge(arguments), verdict)
            << "argument " << index << ": " << testing::PrintToString(value);
    }
}

} // namespace
