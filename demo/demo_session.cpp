// The demo's desktop (scripts/demo): starts the installed editor as its user
// would, with the update its download found, and prints what the editors
// show. It watches the helper that the editor starts, answers the helper's
// dialogs as a user would, and reports what the helper did. The editor
// itself does everything an editor must (demo/demo_editor.cpp).
//
// TAVO_DEMO_FEED=<feed URL> demo_session <install folder> [documents...]

#include "base/handle_owner.h"
#include "base/paths.h"
#include "harness.h"
#include "install/installer_command_line.h"
#include "verify/file_version.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

using namespace tavo;

namespace {

std::string WideToUtf8(const std::wstring& text) {
    std::string utf8(text.size() * 4, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr));
    return utf8;
}

void Say(const std::wstring& text) {
    std::printf("[desktop] %s\n", WideToUtf8(text).c_str());
    std::fflush(stdout);
}

// Prints what the editors have shown since the last call; true once a line
// holds `until`.
bool RelayScreen(const std::wstring& screen, size_t& printed, const char* until = "") {
    const std::string shown = ReadBytes(screen).value_or("");
    std::fwrite(shown.data() + printed, 1, shown.size() - printed, stdout);
    std::fflush(stdout);
    printed = shown.size();
    return *until != '\0' && shown.find(until) != std::string::npos;
}

// The processes with that file name that `parent` started.
std::vector<DWORD> ChildProcesses(DWORD parent, const wchar_t* fileName) {
    std::vector<DWORD> children;
    const UniqueHandle snapshot = OwnHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent && _wcsicmp(entry.szExeFile, fileName) == 0) {
            children.push_back(entry.th32ProcessID);
        }
    }
    return children;
}

// scripts/screenshot sets DEMO_HOLD_DIALOG_FOLDER: the first dialog of each
// kind stays up until the script has photographed the screen (at most 30
// seconds); `shown` names the kind.
void HoldDialogForScreenshot(const std::wstring& dialog, const wchar_t* shown = L"dialog-shown") {
    static std::vector<std::wstring> held;
    const wchar_t* folder = _wgetenv(L"DEMO_HOLD_DIALOG_FOLDER");
    if (folder == nullptr || std::find(held.begin(), held.end(), shown) != held.end()) {
        return;
    }
    held.push_back(shown);
    WriteBytes(std::wstring(folder) + L"\\" + shown, WideToUtf8(dialog));
    const std::wstring taken = std::wstring(folder) + L"\\" + shown + L"-taken";
    for (int attempt = 0; attempt < 300; ++attempt) {
        if (GetFileAttributesW(taken.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return;
        }
        Sleep(100);
    }
}

// Answers the updater's stock windows of the editor as its user would:
// "Install now" in the offer, "Yes" to saving and restarting.
void AnswerTheUpdater(DWORD editor) {
    for (const auto& [windowClass, button] :
         {std::pair{L"TavoPDFUpdateWindow", IDOK}, {L"#32770", IDYES}}) {
        const HWND window = FindWindowW(windowClass, L"Tavo PDF update");
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (window == nullptr || owner != editor || !IsWindowVisible(window)) {
            continue;
        }
        wchar_t text[1024] = {};
        GetDlgItemTextW(window, button == IDOK ? 10 : 0xFFFF, text, 1024); // the heading
        Say(std::wstring(L"the editor asks: ") + text);
        if (button == IDOK) {
            HoldDialogForScreenshot(text, L"offer-shown");
        }
        Say(button == IDOK ? L"answered Install now" : L"answered Yes");
        PostMessageW(window, WM_COMMAND, button, 0);
        Sleep(200); // the window goes before it is looked for again
    }
}

} // namespace

int wmain(int argumentCount, wchar_t** arguments) {
    if (argumentCount < 2 || _wgetenv(L"TAVO_DEMO_FEED") == nullptr) {
        std::fprintf(stderr, "usage: TAVO_DEMO_FEED=<feed URL> demo_session <install folder> "
                             "[documents...]\n");
        return 64;
    }
    const std::wstring installFolder = arguments[1];
    const std::wstring editorPath = installFolder + L"\\tavoPDFEditor.exe";
    const std::wstring screen = MakeWorkFolder(L"demo-screen") + L"\\screen.txt";
    SetEnvironmentVariableW(L"TAVO_DEMO_SCREEN", screen.c_str());

    // Where the editor looks for updates (the publisher's signed feed, which
    // the web server serves at TAVO_DEMO_FEED), and the pins of the feed's
    // and the publisher's keys, which the editor was built with.
    std::vector<std::wstring> editorArguments(arguments + 2, arguments + argumentCount);
    editorArguments.insert(editorArguments.end(), {L"--update-feed", _wgetenv(L"TAVO_DEMO_FEED"),
                                                   KeyPin(L"feed-ec"), KeyPin(L"publisher")});
    Say(L"the user starts " + editorPath + L", version " + ReadFileVersion(editorPath));
    StartedProcess editor =
        StartProcess(editorPath, BuildCommandLine(editorPath, JoinQuotedArguments(editorArguments)),
                     installFolder);

    // The helper is the editor's child; watched from its start.
    size_t printed = 0;
    StartedProcess helper;
    while (WaitForSingleObject(editor.Process, 10) == WAIT_TIMEOUT) {
        RelayScreen(screen, printed);
        AnswerTheUpdater(editor.ProcessId);
        const std::vector<DWORD> found =
            ChildProcesses(editor.ProcessId, L"tavoPDFUpdateHelper.exe");
        if (helper.Process == nullptr && !found.empty()) {
            helper = {
                OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, found.front()),
                found.front()};
        }
    }
    RelayScreen(screen, printed);
    Say(L"the editor has exited");
    if (helper.Process == nullptr) {
        Say(L"no update helper was seen running");
        return 1;
    }
    const HelperEnd end =
        AwaitHelperEnd(helper.Process, helper.ProcessId, 300000, [](const std::wstring& dialog) {
            Say(L"the helper shows " + dialog);
            HoldDialogForScreenshot(dialog);
            Say(L"answered OK");
        });
    // The restarted editor has shown everything once it says it runs on.
    for (int tries = 0; tries < 200 && !RelayScreen(screen, printed, "runs on"); ++tries) {
        Sleep(50);
    }
    if (!end.Ended) {
        Say(L"the helper did not end within five minutes and was stopped");
        return 1;
    }
    std::printf("\nhelper exit code: %lu\n", end.ExitCode);
    // The restarted editor removed the status file after a good update; it
    // stays after a failure.
    const std::optional<std::string> status = ReadBytes(
        _wgetenv(L"LOCALAPPDATA") + std::wstring(L"\\Tavo PDF\\Updates\\update status.txt"));
    std::printf("status file: %s\n",
                status ? ("\"" + *status + "\"").c_str() : "(removed after a good update)");
    std::printf("editor version after: %s\n", WideToUtf8(ReadFileVersion(editorPath)).c_str());
    // The restarted editor's start-up call removes the update's files once
    // the helper has ended; what stays is the updater's state and log.
    const std::wstring updates = _wgetenv(L"LOCALAPPDATA") + std::wstring(L"\\Tavo PDF\\Updates");
    std::wstring left;
    for (int tries = 0; tries < 100; ++tries, Sleep(100)) {
        left.clear();
        for (const auto& file : std::filesystem::directory_iterator(updates)) {
            left += L" [" + file.path().filename().wstring() + L"]";
        }
        if (left.find(L"[tavoPDF") == std::wstring::npos) {
            break;
        }
    }
    std::printf("updates folder afterwards:%s\n", WideToUtf8(left).c_str());
    for (const DWORD restarted : ChildProcesses(helper.ProcessId, L"tavoPDFEditor.exe")) {
        StartedProcess running = {OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, restarted),
                                  restarted};
        EndProcess(running);
    }
    EndProcess(helper);
    EndProcess(editor);
    return static_cast<int>(end.ExitCode);
}
