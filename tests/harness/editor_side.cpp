#include "editor_side.h"

#include "install/editor_restart.h"

#include <bcrypt.h>
#include <tlhelp32.h>

#include <cstdio>

std::wstring ExecutableFolder() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), 32768));
    return path.substr(0, path.rfind(L'\\'));
}

std::wstring FixturesFolder() {
    return ExecutableFolder() + L"\\fixtures";
}

std::wstring HelperExecutablePath() {
    return ExecutableFolder() + L"\\tavoPDFUpdateHelper.exe";
}

std::wstring MakeWorkFolder(const std::wstring& purpose) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    // Wine reuses process ids soon: only a folder this call creates is fresh.
    for (unsigned number = GetTickCount();; ++number) {
        const std::wstring folder = temp + purpose + L"-" + std::to_wstring(number);
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            return folder;
        }
    }
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return bytes;
}

std::string WideToUtf8(const std::wstring& text) {
    const int length = static_cast<int>(text.size());
    std::string narrow(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, narrow.data(),
                        static_cast<int>(narrow.size()), nullptr, nullptr);
    return narrow;
}

std::wstring Sha256OfFile(const std::wstring& path) {
    std::string bytes = ReadBytes(path).value_or("");
    unsigned char digest[32] = {};
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptHash(sha256, nullptr, 0, reinterpret_cast<PUCHAR>(bytes.data()),
               static_cast<ULONG>(bytes.size()), digest, sizeof(digest));
    BCryptCloseAlgorithmProvider(sha256, 0);
    std::wstring hex;
    for (const unsigned char byte : digest) {
        hex += L"0123456789abcdef"[byte >> 4];
        hex += L"0123456789abcdef"[byte & 15];
    }
    return hex;
}

StartedProcess StartProcess(const std::wstring& executable, const std::wstring& commandLine,
                            const std::wstring& workingFolder) {
    StartedProcess started;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        std::wstring writable = commandLine;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(executable.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                           &process)) {
            CloseHandle(process.hThread);
            return {process.hProcess, process.dwProcessId};
        }
        std::printf("Wine could not start %ls (error %lu)%s\n", executable.c_str(), GetLastError(),
                    attempt == 1 ? "; starting it once more" : "");
    }
    return started;
}

void EndProcess(StartedProcess& process) {
    if (process.Process != nullptr) {
        TerminateProcess(process.Process, 99);
        WaitForSingleObject(process.Process, 5000);
        CloseHandle(process.Process);
        process.Process = nullptr;
    }
}

namespace {

bool IsListedInSnapshot(DWORD processId) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool listed = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !listed;
         more = Process32NextW(snapshot, &entry)) {
        listed = entry.th32ProcessID == processId;
    }
    CloseHandle(snapshot);
    return listed;
}

} // namespace

StartedProcess StartStandIn(const std::wstring& path) {
    CopyFileW((FixturesFolder() + L"\\unversioned\\tavoPDFEditor.exe").c_str(), path.c_str(),
              FALSE);
    StartedProcess started =
        StartProcess(path, L"\"" + path + L"\"", path.substr(0, path.rfind(L'\\')));
    for (int attempt = 0; attempt < 200 && !IsListedInSnapshot(started.ProcessId); ++attempt) {
        Sleep(25);
    }
    return started;
}

void AskStandInToExit(DWORD processId) {
    const std::wstring name = L"Local\\TavoPDFStandIn.exit." + std::to_wstring(processId);
    const HANDLE exitEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    SetEvent(exitEvent);
    CloseHandle(exitEvent);
}

HandoffEvents CreateHandoffEvents(const std::wstring& suffix) {
    HandoffEvents events;
    events.Name = L"Local\\TavoPDFUpdate-" + suffix;
    events.Ready = CreateEventW(nullptr, TRUE, FALSE, (events.Name + L".ready").c_str());
    events.Commit = CreateEventW(nullptr, TRUE, FALSE, (events.Name + L".commit").c_str());
    events.Cancel = CreateEventW(nullptr, TRUE, FALSE, (events.Name + L".cancel").c_str());
    return events;
}

void CloseHandoffEvents(HandoffEvents& events) {
    for (HANDLE* handle : {&events.Ready, &events.Commit, &events.Cancel}) {
        if (*handle != nullptr) {
            CloseHandle(*handle);
            *handle = nullptr;
        }
    }
}

ReadyWait AwaitReady(const HandoffEvents& events, const StartedProcess& helper, DWORD limitMs) {
    const HANDLE waitOn[2] = {events.Ready, helper.Process};
    const DWORD woken = WaitForMultipleObjects(2, waitOn, FALSE, limitMs);
    return woken == WAIT_OBJECT_0       ? ReadyWait::Ready
           : woken == WAIT_OBJECT_0 + 1 ? ReadyWait::HelperEnded
                                        : ReadyWait::TimedOut;
}

namespace {

struct DialogSearch {
    DWORD ProcessId;
    HWND Found;
};

BOOL CALLBACK FindDialogOfProcess(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<DialogSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (owner == search->ProcessId && std::wstring(className) == L"#32770" &&
        IsWindowVisible(window)) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

DialogSeen ReadDialog(HWND dialog) {
    wchar_t caption[256] = {};
    GetWindowTextW(dialog, caption, 256);
    std::wstring text(8192, L'\0');
    text.resize(GetDlgItemTextW(dialog, 0xFFFF, text.data(), static_cast<int>(text.size())));
    return {caption, text};
}

} // namespace

HelperEnd AwaitHelperEnd(const StartedProcess& helper, DWORD limitMs,
                         const std::function<void(const DialogSeen&)>& onDialog) {
    HelperEnd end;
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    HWND answered = nullptr;
    while (WaitForSingleObject(helper.Process, 50) == WAIT_TIMEOUT) {
        if (GetTickCount64() > deadline) {
            TerminateProcess(helper.Process, 98);
            WaitForSingleObject(helper.Process, 5000);
            return end;
        }
        DialogSearch search = {helper.ProcessId, nullptr};
        EnumWindows(&FindDialogOfProcess, reinterpret_cast<LPARAM>(&search));
        if (search.Found == nullptr || search.Found == answered) {
            continue;
        }
        // A box that has just appeared may not have its text yet.
        DialogSeen seen = ReadDialog(search.Found);
        for (int attempt = 0; attempt < 40 && seen.Text.empty(); ++attempt) {
            Sleep(50);
            seen = ReadDialog(search.Found);
        }
        end.Dialogs.push_back(seen);
        if (onDialog) {
            onDialog(seen);
        }
        answered = search.Found;
        PostMessageW(search.Found, WM_COMMAND, IDOK, 0);
    }
    GetExitCodeProcess(helper.Process, &end.ExitCode);
    end.Ended = true;
    return end;
}

std::vector<Launch> ReadLaunches(const std::wstring& folder) {
    const std::string bytes = ReadBytes(folder + L"\\launches.log").value_or("");
    const std::wstring log(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    std::vector<std::wstring> fields;
    for (size_t start = 0, end; (end = log.find(L'\0', start)) != std::wstring::npos;
         start = end + 1) {
        fields.push_back(log.substr(start, end - start));
    }
    std::vector<Launch> launches;
    for (size_t at = 0; at + 5 <= fields.size();) {
        const size_t count = std::stoul(fields[at]);
        if (at + 5 + count > fields.size()) {
            break; // a record still being written
        }
        const auto first = fields.begin() + static_cast<std::ptrdiff_t>(at + 5);
        launches.push_back({static_cast<DWORD>(std::stoul(fields[at + 1])),
                            std::stoll(fields[at + 2]),
                            fields[at + 3],
                            fields[at + 4],
                            {first, first + static_cast<std::ptrdiff_t>(count)}});
        at += 5 + count;
    }
    return launches;
}

bool AwaitEditorStarted(const std::wstring& installFolder) {
    for (int attempt = 0; attempt < 400; ++attempt) {
        if (!ReadLaunches(installFolder).empty()) {
            return true;
        }
        Sleep(25);
    }
    return false;
}

void EndLaunches(const std::vector<Launch>& launches) {
    for (const Launch& launch : launches) {
        AskStandInToExit(launch.ProcessId);
    }
}

std::wstring HelperCommandLine(const std::vector<std::wstring>& arguments) {
    return BuildRestartCommandLine(HelperExecutablePath(), JoinRestartArguments(arguments));
}
