// The command-line check at its edges: which argument lists become a request,
// which are refused (exit code 2) and which throw (exit code 7). What an
// accepted request holds shows end to end.

#include "app/update_request.h"
#include "base/paths.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(UpdateRequestCheck, EachArgumentGetsItsVerdict) {
    const std::wstring prefix = L"Local\\TavoPDFUpdate-";
    // An argument's index and value, and the verdict: accepted, refused, or
    // thrown. Index 0 changes nothing; index 9 passes only eight elements.
    // clang-format off
    const std::tuple<size_t, std::wstring, char> cases[] = {
        {0, L"", 'a'}, {9, L"", 'r'},
        {1, L"  \t4242", 'a'}, {1, L"4242 ", 'r'}, {1, L"12ab", 'r'}, {1, L"0", 'r'}, {1, L"-1", 'a'},
        {1, L"4294967295", 'a'}, {1, L"4294967296", 't'}, {1, L"", 't'},
        {2, prefix, 'a'}, {2, prefix + std::wstring(80, L'x'), 'a'}, {2, prefix + std::wstring(81, L'x'), 'r'},
        {2, L"Local\\TavoPDFUpdate", 'r'}, {2, L"x" + prefix, 'r'}, {2, L"local\\tavopdfupdate-1", 'r'},
        {3, L"C:update.msi", 'r'}, {3, L"\\update.msi", 'r'}, {3, L"update.msi", 'r'}, {3, L"1:\\u.msi", 'r'},
        {3, L"\\\\server\\share\\u.msi", 'a'}, {3, L"\\\\\\server\\u.msi", 'r'}, {3, L"//?/C:/u.msi", 'a'},
        {3, L"\\??\\C:\\u.msi", 'a'}, {3, L"/\?\?/", 'a'}, {3, L"\\??\\\\u.msi", 'r'},
        {5, L"tavoPDFEditor.exe", 'r'}, {5, L"C:\\T\\TAVOPDFEDITOR.EXE", 'a'},
        {5, L"C:\\T\\NorvexViewer.exe", 'r'}, {5, L"C:\\T\\tavoPDFEditor.exe.bak", 'r'},
        {7, L"exe", 'a'}, {7, L"msi ", 'r'}, {8, L"status.txt", 'r'}};
    // clang-format on
    for (const auto& [index, value, verdict] : cases) {
        std::vector<std::wstring> arguments = {L"helper.exe",
                                               L"4242",
                                               prefix + L"3f2a",
                                               L"C:\\Users\\ana\\update.msi",
                                               std::wstring(64, L'a'),
                                               L"C:\\Tavo PDF\\tavoPDFEditor.exe",
                                               L"2.0",
                                               L"msi",
                                               L"C:\\Temp\\status.txt"};
        arguments[index % 9] = index % 9 == 0 ? arguments[0] : value;
        std::vector<const wchar_t*> pointers;
        for (const std::wstring& argument : arguments) {
            pointers.push_back(argument.c_str());
        }
        char seen = 't';
        try {
            seen = ParseUpdateRequest(index == 9 ? 8 : 9, pointers.data()) ? 'a' : 'r';
        } catch (const std::logic_error&) { // std::stoul's invalid_argument and out_of_range
        }
        EXPECT_EQ(seen, verdict) << "argument " << index << ": " << testing::PrintToString(value);
    }
}

TEST(ParentFolder, DropsTheLastNameAndItsSeparatorsButARootKeepsOne) {
    // clang-format off
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Tavo\\\\e.exe", L"C:\\Tavo"}, {L"C:\\e.exe", L"C:\\"}, {L"C:/\\e.exe", L"C:/"},
        {L"\\\\server\\share\\e.exe", L"\\\\server\\share"}, {L"e.exe", L""}};
    // clang-format on
    for (const auto& [path, parent] : cases) {
        EXPECT_EQ(ParentFolder(path), parent) << testing::PrintToString(path);
    }
}

} // namespace
