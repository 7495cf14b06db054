#include "release/release_check.h"

#include <windows.h>

#include <cstdio>
#include <string>

// Prints the report as UTF-8: subjects and paths may be any text.
int wmain(int argumentCount, wchar_t** arguments) {
    std::wstring report;
    const int exitCode = RunReleaseCheck({arguments + 1, arguments + argumentCount}, report);
    const int length = static_cast<int>(report.size());
    std::string utf8(static_cast<size_t>(length) * 4, '\0');
    utf8.resize(static_cast<size_t>(WideCharToMultiByte(
        CP_UTF8, 0, report.data(), length, utf8.data(), length * 4, nullptr, nullptr)));
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return exitCode;
}
