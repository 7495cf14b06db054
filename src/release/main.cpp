#include "release/feed_tool.h"
#include "release/release_check.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

// Prints the report as UTF-8: subjects and paths may be any text.
int wmain(int argumentCount, wchar_t** arguments) {
    std::wstring report;
    const std::wstring command = argumentCount > 1 ? arguments[1] : L"";
    const std::vector<std::wstring> rest(arguments + (argumentCount > 1 ? 2 : 1),
                                         arguments + argumentCount);
    int exitCode = 2;
    // Every failure is a line of the report, never an abort.
    try {
        exitCode = command == L"compose-feed" ? ComposeFeed(rest, report)
                   : command == L"check-feed" ? CheckFeed(rest, report)
                   : command == L"delta-share"
                       ? MeasureDeltaShare(rest, report)
                       : RunReleaseCheck({arguments + 1, arguments + argumentCount}, report);
    } catch (const std::exception& error) {
        const std::string what = error.what();
        report += L"refused  the tool could not finish: " + std::wstring(what.begin(), what.end()) +
                  L"\n";
    }
    const int length = static_cast<int>(report.size());
    std::string utf8(static_cast<size_t>(length) * 4, '\0');
    utf8.resize(static_cast<size_t>(WideCharToMultiByte(
        CP_UTF8, 0, report.data(), length, utf8.data(), length * 4, nullptr, nullptr)));
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return exitCode;
}
