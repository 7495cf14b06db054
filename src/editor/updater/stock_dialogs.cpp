#include "tavo/editor_updater.h"

#include <commctrl.h>

#include <cstdio>
#include <memory>

namespace tavo {

namespace {

// Enter presses Install now, Escape Later; the texts have ids of their own.
constexpr int InstallButton = IDOK, LaterButton = IDCANCEL, SkipButton = 100, StopButton = 101;
constexpr int HeadingText = 10, BodyText = 11;

// A button the user pressed in a stock window, and the stop it asked for.
struct StockState {
    std::function<bool()> CloseDocuments;
    std::function<void()> ExitNow;
    HWND Progress = nullptr, Bar = nullptr, Text = nullptr;
    HFONT Font = nullptr;
    int Pressed = 0;
    ~StockState() {
        if (Progress != nullptr) {
            DestroyWindow(Progress);
        }
        if (Font != nullptr) {
            DeleteObject(Font);
        }
    }
};

// The stop a progress window's Stop button asks for: thrown out of the
// progress callback, it ends the download with its partial file kept.
struct StoppedByUser {};

int Scaled(int value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi), 96);
}

// The system's message font at this DPI, for every child of the window.
void UseMessageFont(StockState& state, HWND window, UINT dpi) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi);
    if (state.Font != nullptr) {
        DeleteObject(state.Font);
    }
    state.Font = CreateFontIndirectW(&metrics.lfMessageFont);
    EnumChildWindows(
        window,
        [](HWND child, LPARAM font) {
            SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(state.Font));
}

// The children's places at 96 DPI: x, y, width, height, by control id.
struct Place {
    int Id, X, Y, Width, Height;
};
constexpr Place OfferPlaces[] = {{HeadingText, 16, 12, 428, 20},
                                 {BodyText, 16, 38, 428, 150},
                                 {InstallButton, 16, 200, 130, 28},
                                 {LaterButton, 156, 200, 130, 28},
                                 {SkipButton, 296, 200, 148, 28}};
constexpr Place ProgressPlaces[] = {
    {HeadingText, 16, 16, 428, 22}, {BodyText, 16, 46, 428, 20}, {StopButton, 364, 74, 80, 28}};

template <size_t Count> void Layout(StockState& state, HWND window, const Place (&places)[Count]) {
    const UINT dpi = GetDpiForWindow(window);
    for (const Place& place : places) {
        SetWindowPos(GetDlgItem(window, place.Id), nullptr, Scaled(place.X, dpi),
                     Scaled(place.Y, dpi), Scaled(place.Width, dpi), Scaled(place.Height, dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    UseMessageFont(state, window, dpi);
}

LRESULT CALLBACK StockProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<StockState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (state != nullptr && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        state->Pressed = LOWORD(wParam);
        return 0;
    }
    if (state != nullptr && message == WM_CLOSE) {
        state->Pressed = window == state->Progress ? StopButton : LaterButton;
        return 0;
    }
    if (state != nullptr && message == WM_DPICHANGED) {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (window == state->Progress) {
            Layout(*state, window, ProgressPlaces);
        } else {
            Layout(*state, window, OfferPlaces);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A top-level window of the stock class, sized for its DPI (client area at
// 96 DPI: width by height), centred on the screen.
HWND CreateStockWindow(StockState& state, const std::wstring& caption, int width, int height) {
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = StockProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"TavoPDFUpdateWindow";
    RegisterClassW(&windowClass);
    const UINT dpi = GetDpiForSystem();
    RECT frame = {0, 0, Scaled(width, dpi), Scaled(height, dpi)};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    AdjustWindowRectExForDpi(&frame, style, FALSE, 0, dpi);
    const int frameWidth = frame.right - frame.left, frameHeight = frame.bottom - frame.top;
    const HWND window =
        CreateWindowExW(WS_EX_DLGMODALFRAME, windowClass.lpszClassName, caption.c_str(), style,
                        (GetSystemMetrics(SM_CXSCREEN) - frameWidth) / 2,
                        (GetSystemMetrics(SM_CYSCREEN) - frameHeight) / 2, frameWidth, frameHeight,
                        nullptr, nullptr, instance, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    return window;
}

HWND AddChild(HWND window, const wchar_t* type, const std::wstring& text, int id, DWORD style) {
    return CreateWindowExW(0, type, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                           window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

// Delivers the window's messages, Tab and Enter and Escape included, until
// a button is pressed or `once` says to look only at what is waiting.
void Pump(StockState& state, HWND window, bool once) {
    for (MSG message; once ? PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != 0
                           : (state.Pressed == 0 && GetMessageW(&message, nullptr, 0, 0) > 0);) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (once && state.Pressed != 0) {
            return;
        }
    }
}

UpdateChoice AskInWindow(StockState& state, const UpdateOffered& offer) {
    DestroyWindow(state.Progress);
    state.Progress = nullptr;
    const HWND window = CreateStockWindow(state, L"Tavo PDF update", 460, 240);
    AddChild(window, L"STATIC",
             L"Tavo PDF " + offer.Version + L" is available" +
                 (offer.Critical ? L": an important update that cannot be skipped." : L"."),
             HeadingText, 0);
    std::wstring notes = offer.Notes.empty() ? L"No release notes." : offer.Notes;
    AddChild(window, L"EDIT", notes, BodyText,
             WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_TABSTOP);
    const HWND install =
        AddChild(window, L"BUTTON", L"&Install now", InstallButton, BS_DEFPUSHBUTTON | WS_TABSTOP);
    AddChild(window, L"BUTTON", L"&Later", LaterButton, BS_PUSHBUTTON | WS_TABSTOP);
    const HWND skip =
        AddChild(window, L"BUTTON", L"&Skip this version", SkipButton, BS_PUSHBUTTON | WS_TABSTOP);
    EnableWindow(skip, !offer.Critical);
    Layout(state, window, OfferPlaces);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(install);
    state.Pressed = 0;
    Pump(state, window, false);
    DestroyWindow(window);
    return state.Pressed == InstallButton ? UpdateChoice::InstallNow
           : state.Pressed == SkipButton  ? UpdateChoice::SkipThisVersion
                                          : UpdateChoice::Later;
}

void ShowProgressInWindow(StockState& state, const DownloadProgress& progress) {
    if (state.Progress == nullptr) {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        state.Progress = CreateStockWindow(state, L"Downloading the Tavo PDF update", 460, 118);
        state.Bar = AddChild(state.Progress, PROGRESS_CLASSW, L"", HeadingText, 0);
        state.Text = AddChild(state.Progress, L"STATIC", L"Connecting...", BodyText, 0);
        AddChild(state.Progress, L"BUTTON", L"&Stop", StopButton, BS_PUSHBUTTON | WS_TABSTOP);
        SendMessageW(state.Bar, PBM_SETRANGE32, 0, 1000);
        Layout(state, state.Progress, ProgressPlaces);
        ShowWindow(state.Progress, SW_SHOW);
        state.Pressed = 0;
    }
    const double received = static_cast<double>(progress.Received);
    const double total = static_cast<double>(progress.Total);
    const double left =
        progress.BytesPerSecond > 0 ? (total - received) / progress.BytesPerSecond : 0;
    SendMessageW(state.Bar, PBM_SETPOS,
                 total > 0 ? static_cast<WPARAM>(1000 * received / total) : 0, 0);
    wchar_t text[160];
    std::swprintf(text, 160, L"%.1f MB of %.1f MB, about %.0f s left", received / 1048576,
                  total / 1048576, left + 0.5);
    SetWindowTextW(state.Text, text);
    Pump(state, state.Progress, true);
    if (state.Pressed == StopButton) {
        DestroyWindow(state.Progress);
        state.Progress = nullptr;
        throw StoppedByUser();
    }
}

} // namespace

UpdaterCallbacks StockUpdaterDialogs(std::function<bool()> closeDocuments,
                                     std::function<void()> exitNow) {
    const auto state = std::make_shared<StockState>();
    state->CloseDocuments = std::move(closeDocuments);
    state->ExitNow = std::move(exitNow);
    UpdaterCallbacks callbacks;
    callbacks.AskToInstall = [state](const UpdateOffered& offer) {
        return AskInWindow(*state, offer);
    };
    callbacks.OnProgress = [state](const DownloadProgress& progress) {
        ShowProgressInWindow(*state, progress);
    };
    callbacks.CloseDocuments = [state] {
        DestroyWindow(state->Progress);
        state->Progress = nullptr;
        return MessageBoxW(nullptr,
                           L"The update is ready to install. Save your work and restart Tavo PDF "
                           L"now?",
                           L"Tavo PDF update",
                           MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES &&
               state->CloseDocuments();
    };
    callbacks.ExitNow = [state] { state->ExitNow(); };
    callbacks.OnEvent = [state](UpdaterEvent, const std::wstring&) {
        DestroyWindow(state->Progress);
        state->Progress = nullptr;
    };
    return callbacks;
}

} // namespace tavo
