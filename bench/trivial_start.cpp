// The floor of process start-up in the Wine prefix: does only what every run
// of the helper must, split its command line (which brings shell32 and
// user32), and ends. "load <library>" also loads that library from the system
// folder first; any other argument is the name of an event to set.

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments != nullptr && count > 2 && wcscmp(arguments[1], L"load") == 0) {
        LoadLibraryExW(arguments[2], nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    } else if (arguments != nullptr && count > 1) {
        HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[1]);
        if (started != nullptr) {
            SetEvent(started);
            CloseHandle(started);
        }
    }
    LocalFree(arguments);
    return 0;
}
