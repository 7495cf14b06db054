#include "harness.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "editor/handover/helper_launch.h"
#include "verify/checksum.h"

#include <bcrypt.h>
#include <tlhelp32.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

using namespace tavo;

std::wstring ExecutableFolder() {
    return ParentFolder(ExecutablePath());
}

// clang-format off
const std::vector<std::wstring> AwkwardArguments = {
    L"--open",     L"C:\\Docs\\Q3 report.pdf", L"",
    L"tab\there",  L"say \"hi\"",               L"ends\\with\\",
    L"\\\\srv\\s\\", L"中文 ünï",                 L"\U0001F600",
    L"a\\\"b",    L"\\\\\"\\\\"};
// clang-format on

StartedProcess FindProcess(const std::wstring& image) {
    const std::wstring name = image.substr(image.rfind(L'\\') + 1);
    for (int tries = 0; tries < 1200; ++tries, Sleep(25)) {
        const UniqueHandle snapshot = OwnHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            StartedProcess found = {
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                            FALSE, entry.th32ProcessID),
                entry.th32ProcessID};
            wchar_t path[32768] = {};
            DWORD size = 32768;
            if (_wcsicmp(entry.szExeFile, name.c_str()) == 0 && found.Process != nullptr &&
                QueryFullProcessImageNameW(found.Process, 0, path, &size) &&
                _wcsicmp(path, image.c_str()) == 0) {
                return found;
            }
            if (found.Process != nullptr) {
                CloseHandle(found.Process);
            }
        }
    }
    return {};
}

UpdateRestart HandleUpdateRestartOf(const std::vector<std::wstring>& arguments,
                                    const std::wstring& updatesFolder) {
    std::vector<const wchar_t*> elements;
    for (const std::wstring& argument : arguments) {
        elements.push_back(argument.c_str());
    }
    return HandleUpdateRestart(static_cast<int>(elements.size()), elements.data(), updatesFolder);
}

std::wstring Environment(const wchar_t* name) {
    std::wstring value(4096, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), 4096));
    return value;
}

std::wstring MakeWorkFolder(const std::wstring& purpose) {
    // Wine soon reuses process ids: only a folder this call creates is fresh.
    for (unsigned number = GetTickCount();; ++number) {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / (purpose + L"-" + std::to_wstring(number));
        if (std::filesystem::create_directory(folder)) {
            return folder.wstring();
        }
    }
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::wstring Sha256OfFile(const std::wstring& path) {
    std::string bytes = ReadBytes(path).value_or("");
    std::array<unsigned char, 32> digest = {};
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptHash(sha256, nullptr, 0, reinterpret_cast<PUCHAR>(bytes.data()),
               static_cast<ULONG>(bytes.size()), digest.data(), 32);
    BCryptCloseAlgorithmProvider(sha256, 0);
    return FormatDigest(digest);
}

std::vector<std::string> LoggedFor(const std::wstring& name) {
    std::vector<std::string> lines;
    std::istringstream log(ReadBytes(Environment(L"TAVO_TEST_WEB_LOG")).value_or(""));
    const std::string wanted(name.begin(), name.end());
    for (std::string line; std::getline(log, line);) {
        if (line.find("/" + wanted) != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

void CopySetupDescribedInLowerCase(const std::wstring& setup, const std::wstring& copy) {
    std::string bytes = *ReadBytes(setup);
    bytes[bytes.rfind(std::string(reinterpret_cast<const char*>(L"Tavo PDF Setup"), 28))] = 't';
    WriteBytes(copy, bytes);
}

std::wstring KeyPin(const std::wstring& signer) {
    const std::string pin =
        ReadBytes(FixturesFolder() + L"\\keys\\" + signer + L".pin").value_or("");
    return std::wstring(pin.begin(), pin.begin() + std::min<size_t>(pin.size(), 64));
}

StartedProcess StartProcess(const std::wstring& executable, const std::wstring& commandLine,
                            const std::wstring& workingFolder) {
    for (int attempt = 1; attempt <= 2; ++attempt) {
        std::wstring writable = commandLine;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(executable.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           workingFolder.c_str(), &startup, &process)) {
            CloseHandle(process.hThread);
            return {process.hProcess, process.dwProcessId};
        }
        std::printf("Wine could not start %ls (error %lu)%s\n", executable.c_str(), GetLastError(),
                    attempt == 1 ? "; starting it once more" : "");
    }
    return {};
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

// The stand-ins' records in folder, one a line: "<process id>|<start>".
std::vector<std::wstring> ReadRecords(const std::wstring& folder) {
    const std::string bytes =
        ReadBytes(std::filesystem::path(folder) / L"launches.log").value_or("");
    std::wistringstream log(
        std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
    std::vector<std::wstring> records;
    for (std::wstring record; std::getline(log, record);) {
        records.push_back(record);
    }
    return records;
}

} // namespace

StartedProcess StartStandIn(const std::wstring& path) {
    const std::wstring folder = path.substr(0, path.rfind(L'\\'));
    const size_t before = ReadStarts(folder).size();
    CopyFileW((FixturesFolder() + L"\\unversioned\\tavoPDFEditor.exe").c_str(), path.c_str(), TRUE);
    StartedProcess started = StartProcess(path, L"\"" + path + L"\"", folder);
    ReadStarts(folder, before + 1);
    return started;
}

std::vector<std::wstring> ReadStarts(const std::wstring& folder, size_t atLeast) {
    std::vector<std::wstring> starts;
    for (int tries = 0; (starts = ReadRecords(folder)).size() < atLeast && tries < 1200; ++tries) {
        Sleep(25);
    }
    for (std::wstring& start : starts) {
        start.erase(0, start.find(L'|') + 1);
    }
    return starts;
}

void EndStandIns(const std::wstring& folder) {
    for (const std::wstring& record : ReadRecords(folder)) {
        StartedProcess standIn = {
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, std::stoul(record)), 0};
        EndProcess(standIn);
    }
}

namespace {

// What a box shows besides its text: whether its icon is the error icon, told
// by the icon's colours on the screen (Wine keeps icons per process, so no
// handle can be compared), and its buttons. One box at a time is raised above
// all others to be looked at.
std::wstring LooksOf(HWND box) {
    static const HANDLE looking = CreateMutexW(nullptr, FALSE, L"Local\\TavoTestsLookAtABox");
    WaitForSingleObject(looking, 60000);
    SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    RECT icon = {};
    GetWindowRect(GetDlgItem(box, 0x0440), &icon); // stc1: Wine's message box icon
    // Red fills about half of the error icon; the warning icon is yellow.
    const HDC screen = GetDC(nullptr);
    int red = 0;
    for (int tries = 0; tries < 50 && red < 200; ++tries, Sleep(20)) {
        red = 0;
        for (LONG y = icon.top; y < icon.bottom; ++y) {
            for (LONG x = icon.left; x < icon.right; ++x) {
                const COLORREF c = GetPixel(screen, x, y);
                red += GetRValue(c) > 160 && GetGValue(c) < 110 && GetBValue(c) < 110;
            }
        }
    }
    ReleaseDC(nullptr, screen);
    ReleaseMutex(looking);
    std::wstring looks = red >= 200 ? L"error icon" : L"no error icon";
    for (int button = IDOK; button <= IDNO; ++button) {
        wchar_t text[64] = {};
        looks += GetDlgItemTextW(box, button, text, 64) ? L", " + std::wstring(text) : L"";
    }
    return looks;
}

} // namespace

bool StartHelper(const UpdateOrder& order, UpdateHandoff& handoff,
                 void (*tamper)(std::vector<std::wstring>&)) {
    for (int attempt = 1; attempt <= 2; ++attempt) {
        std::vector<std::wstring> arguments = HelperArguments(order, handoff.Name);
        if (tamper != nullptr) {
            tamper(arguments);
        }
        const HelperStart start = tamper != nullptr
                                      ? HelperStart{false, L"", LaunchHelper(arguments, handoff)}
                                      : StartUpdateHelper(order, handoff);
        if (start.WindowsError == ERROR_SUCCESS || !start.Refusal.empty()) {
            std::printf("%ls", start.Refusal.c_str()); // a row's order is never refused
            return start.Refusal.empty();
        }
        std::printf("Wine could not start the helper (error %lu)%s\n", start.WindowsError,
                    attempt == 1 ? "; starting it once more" : "");
    }
    return false;
}

HelperEnd AwaitHelperEnd(HANDLE helper, DWORD helperProcessId, DWORD limitMs,
                         const std::function<void(const std::wstring&)>& onDialog) {
    HelperEnd end;
    HWND answered = nullptr;
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    while (WaitForSingleObject(helper, 50) == WAIT_TIMEOUT) {
        if (GetTickCount64() > deadline) {
            TerminateProcess(helper, 98);
            WaitForSingleObject(helper, 5000);
            return end;
        }
        for (HWND box = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); box != nullptr;
             box = FindWindowExW(nullptr, box, L"#32770", nullptr)) {
            // A box of this helper not answered yet, once its text is there.
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            wchar_t caption[256] = {}, text[8192] = {};
            GetWindowTextW(box, caption, 256);
            if (owner != helperProcessId || box == answered || !IsWindowVisible(box) ||
                GetDlgItemTextW(box, 0xFFFF, text, 8192) == 0) {
                continue;
            }
            end.Dialogs.push_back(caption + (L" [" + LooksOf(box) + L"]: " + text));
            if (onDialog) {
                onDialog(end.Dialogs.back());
            }
            answered = box;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
    end.Ended = GetExitCodeProcess(helper, &end.ExitCode) != FALSE;
    return end;
}

HWND AwaitWindow(DWORD processId, const wchar_t* windowClass, const wchar_t* caption) {
    for (int tries = 0; tries < 2400; ++tries) {
        for (HWND window = FindWindowExW(nullptr, nullptr, windowClass, caption); window != nullptr;
             window = FindWindowExW(nullptr, window, windowClass, caption)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == processId && IsWindowVisible(window)) {
                return window;
            }
        }
        Sleep(25); // polled: no event says that another thread opened a window
    }
    return nullptr;
}

void PressKey(HWND window, WPARAM key) {
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof(thread);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread);
    const HWND focus = thread.hwndFocus != nullptr ? thread.hwndFocus : window;
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
}

std::wstring ChildText(HWND window, int id) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(window, id, text, 1024);
    return text;
}
