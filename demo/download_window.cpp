#include "download_window.h"

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace tavo;

namespace {

constexpr UINT ProgressMessage = WM_APP + 1; // the download's thread has news
constexpr UINT DoneMessage = WM_APP + 2;     // it has ended
constexpr int StopButton = 100;

struct Shared {
    std::atomic<std::uint64_t> Received{0}, Total{0};
    std::atomic<double> BytesPerSecond{0};
    std::stop_source Stop;
    HWND Bar = nullptr, Text = nullptr;
};

// A pause for scripts/screenshot: once a third is there, the download waits
// until the window has been photographed.
void HoldForScreenshot(const DownloadProgress& progress) {
    static bool held = false;
    const wchar_t* folder = _wgetenv(L"DEMO_HOLD_PROGRESS_FOLDER");
    if (folder == nullptr || held || progress.Received * 3 < progress.Total) {
        return;
    }
    held = true;
    const std::wstring shown = std::wstring(folder) + L"\\progress-shown";
    const std::wstring taken = std::wstring(folder) + L"\\screenshot-taken";
    CloseHandle(CreateFileW(shown.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int tries = 0; tries < 600 && GetFileAttributesW(taken.c_str()) == INVALID_FILE_ATTRIBUTES;
         ++tries) {
        Sleep(100);
    }
}

void ShowProgress(const Shared& shared) {
    const double received = static_cast<double>(shared.Received);
    const double total = static_cast<double>(shared.Total);
    const double rate = shared.BytesPerSecond;
    SendMessageW(shared.Bar, PBM_SETPOS,
                 total > 0 ? static_cast<WPARAM>(1000 * received / total) : 0, 0);
    wchar_t text[160];
    const double left = rate > 0 ? (total - received) / rate : 0;
    std::swprintf(text, 160, L"%.1f MB of %.1f MB, %.0f KB/s, about %.0f s left",
                  received / 1048576, total / 1048576, rate / 1024, left + 0.5);
    SetWindowTextW(shared.Text, text);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* shared = reinterpret_cast<Shared*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == ProgressMessage && shared != nullptr) {
        ShowProgress(*shared);
        return 0;
    }
    if ((message == WM_COMMAND && LOWORD(wParam) == StopButton) || message == WM_CLOSE) {
        if (shared != nullptr) {
            shared->Stop.request_stop(); // the download ends, and then the window
        }
        return 0;
    }
    if (message == DoneMessage) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

PackageDownload DownloadWithProgressWindow(const PackageOffer& offer, const std::wstring& folder) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"TavoPDFDownload";
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(0, windowClass.lpszClassName,
                                        (L"Downloading Tavo PDF " + offer.Version).c_str(),
                                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 40, 40, 460, 150,
                                        nullptr, nullptr, instance, nullptr);
    Shared shared;
    shared.Total = offer.Size;
    shared.Bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 16, 16, 412,
                                 22, window, nullptr, instance, nullptr);
    shared.Text = CreateWindowExW(0, L"STATIC", L"Connecting...", WS_CHILD | WS_VISIBLE, 16, 48,
                                  412, 20, window, nullptr, instance, nullptr);
    CreateWindowExW(0, L"BUTTON", L"Stop", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 348, 76, 80, 26,
                    window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(StopButton)), instance,
                    nullptr);
    SendMessageW(shared.Bar, PBM_SETRANGE32, 0, 1000);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&shared));
    ShowWindow(window, SW_SHOW);

    PackageDownload result;
    std::thread worker([&] {
        DownloadOptions options;
        options.Folder = folder;
        options.Stop = shared.Stop.get_token();
        options.OnProgress = [&](const DownloadProgress& progress) {
            shared.Received = progress.Received;
            shared.BytesPerSecond = progress.BytesPerSecond;
            PostMessageW(window, ProgressMessage, 0, 0);
            HoldForScreenshot(progress);
        };
        result = DownloadPackage(offer, options);
        PostMessageW(window, DoneMessage, 0, 0);
    });
    for (MSG message; GetMessageW(&message, nullptr, 0, 0) > 0;) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    worker.join();
    return result;
}
