#include "install/editor_restart.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "install/installer_command_line.h"

std::wstring JoinRestartArguments(const std::vector<std::wstring>& editorArguments) {
    return JoinQuotedArguments(editorArguments);
}

bool RestartEditor(const std::wstring& editorPath, const std::wstring& restartArguments) {
    // CreateProcessW may write into the command line, so it gets a copy.
    std::wstring commandLine = BuildCommandLine(editorPath, restartArguments);
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
