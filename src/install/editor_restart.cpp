#include "install/editor_restart.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "install/installer_command_line.h"

std::wstring JoinRestartArguments(const std::vector<std::wstring>& editorArguments) {
    std::wstring joined;
    for (const std::wstring& argument : editorArguments) {
        if (!joined.empty()) {
            joined += L' ';
        }
        joined += QuoteArgument(argument);
    }
    return joined;
}

std::wstring BuildRestartCommandLine(const std::wstring& editorPath,
                                     const std::wstring& restartArguments) {
    std::wstring commandLine = QuoteArgument(editorPath);
    if (!restartArguments.empty()) {
        commandLine += L' ';
        commandLine += restartArguments;
    }
    return commandLine;
}

bool RestartEditor(const std::wstring& editorPath, const std::wstring& restartArguments) {
    // CreateProcessW may write into the command line, so it gets a copy.
    std::wstring commandLine = BuildRestartCommandLine(editorPath, restartArguments);
    const std::wstring workingFolder = ParentFolder(editorPath);

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(editorPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingFolder.c_str(), &startup, &started)) {
        return false;
    }
    // Declared process first so that the thread handle is closed first.
    const UniqueHandle process = OwnHandle(started.hProcess);
    const UniqueHandle thread = OwnHandle(started.hThread);
    return WaitForSingleObject(process.get(), RestartGracePeriodMs) == WAIT_TIMEOUT;
}
