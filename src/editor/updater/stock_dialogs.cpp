#include "tavo/editor_updater.h"

#include "editor/updater/editor_calls.h"
#include "editor/updater/stock_windows.h"

#include <commctrl.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace tavo {

namespace {

// Enter presses Install now, Escape Later (Stop in the progress window); the
// texts have ids of their own.
constexpr int InstallButton = IDOK, LaterButton = IDCANCEL, SkipButton = 100, StopButton = IDCANCEL;
constexpr int HeadingText = 10, BodyText = 11;
constexpr wchar_t StockClass[] = L"TavoPDFUpdateWindow";
constexpr wchar_t QuestionCaption[] = L"Tavo PDF update";

// A button the user pressed in a stock window, and the stop it asked for.
struct StockState {
    std::function<bool()> CloseDocuments;
    std::function<void()> ExitNow;
    HWND Progress = nullptr, Bar = nullptr, Text = nullptr;
    HFONT Font = nullptr;
    int Pressed = 0;
    bool Stopped = false; // the progress window was closed: the download stops
    ~StockState() {
        if (Progress != nullptr) {
            DestroyWindow(Progress);
        }
        if (Font != nullptr) {
            DeleteObject(Font);
        }
    }
};

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
    if (state != nullptr && message == WM_CLOSE && window == state->Progress) {
        // Between two reports no loop of ours may run: the window goes now.
        DestroyWindow(window);
        state->Progress = nullptr;
        state->Stopped = true;
        return 0;
    }
    if (state != nullptr && message == WM_CLOSE) {
        state->Pressed = LaterButton;
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
    windowClass.lpszClassName = StockClass;
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
                        StockOwner, nullptr, instance, nullptr);
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
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam)); // the editor's loop ends too
            state.Pressed = state.Pressed == 0 ? LaterButton : state.Pressed;
            return;
        }
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
    state.Stopped = false;
    const HWND window = CreateStockWindow(state, L"Tavo PDF update", 460, 240);
    AddChild(
        window, L"STATIC",
        L"Tavo PDF " + offer.Version + L" is available" +
            (offer.RunningVersion.empty() ? L"." : L"; you have " + offer.RunningVersion + L"."),
        HeadingText, 0);
    std::wstring notes =
        offer.Critical ? L"An important update that cannot be skipped.\r\n\r\n" : L"";
    // An edit control breaks lines only at CR LF.
    for (const wchar_t character : offer.Notes.empty() ? L"No release notes." : offer.Notes) {
        if (character == L'\n' && (notes.empty() || notes.back() != L'\r')) {
            notes += L'\r';
        }
        notes += character;
    }
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
    if (state.Stopped) {
        throw DownloadStoppedByUser();
    }
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
    SendMessageW(state.Bar, PBM_SETPOS,
                 total > 0 ? static_cast<WPARAM>(1000 * received / total) : 0, 0);
    SetWindowTextW(state.Text, DescribeProgress(progress).c_str());
    Pump(state, state.Progress, true);
    if (state.Pressed == StopButton) {
        DestroyWindow(state.Progress);
        state.Progress = nullptr;
        throw DownloadStoppedByUser();
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
        return MessageBoxW(StockOwner,
                           L"The update is ready to install. Save your work and restart Tavo PDF "
                           L"now?",
                           QuestionCaption,
                           MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES &&
               state->CloseDocuments();
    };
    callbacks.ExitNow = [state] { state->ExitNow(); };
    callbacks.OnEvent = [state](UpdaterEvent, const std::wstring&) {
        DestroyWindow(state->Progress);
        state->Progress = nullptr;
        state->Stopped = false;
    };
    return callbacks;
}

std::wstring DescribeProgress(const DownloadProgress& progress) {
    const double received = static_cast<double>(progress.Received);
    const double total = static_cast<double>(progress.Total);
    wchar_t text[160];
    const int length =
        std::swprintf(text, 160, L"%.1f MB of %.1f MB", received / 1048576, total / 1048576);
    // The time left once a rate is known, never a guess before.
    if (progress.BytesPerSecond > 0 && length > 0) {
        std::swprintf(text + length, 160 - static_cast<size_t>(length), L", about %.0f s left",
                      std::ceil((total - received) / progress.BytesPerSecond));
    }
    return text;
}

void CloseStockWindows(DWORD thread) {
    if (thread == 0) {
        return;
    }
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM) {
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            wchar_t caption[64] = {};
            InternalGetWindowText(window, caption, 64); // sends nothing to its thread
            if (std::wstring_view(name) == StockClass) {
                PostMessageW(window, WM_CLOSE, 0, 0);
            } else if (std::wstring_view(name) == L"#32770" &&
                       std::wstring_view(caption) == QuestionCaption) {
                PostMessageW(window, WM_COMMAND, IDNO, 0);
            }
            return TRUE;
        },
        0);
}

} // namespace tavo
