// The baseline for process start-up in the Wine prefix: sets the event named
// on its command line and ends.

#include <windows.h>
#include <shellapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments != nullptr && count > 1) {
        HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[1]);
        if (started != nullptr) {
            SetEvent(started);
            CloseHandle(started);
        }
    }
    LocalFree(arguments);
    return 0;
}
