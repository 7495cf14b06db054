#include "editor/updater/editor_calls.h"

#include <condition_variable>
#include <exception>
#include <mutex>

namespace tavo {

struct EditorCallsState {
    std::mutex Lock;
    std::condition_variable Changed;
    std::function<void()> Waiting; // posted, not yet taken
    bool Finished = false, Stopped = false;
    std::exception_ptr Thrown;
};

namespace {

constexpr UINT CallMessage = WM_APP + 0x5456;
constexpr wchar_t CallsClass[] = L"TavoPDFUpdaterCalls";

// The window holds the state too, so that a call still running when the
// updater has gone finishes soundly.
LRESULT CALLBACK CallsProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* held = reinterpret_cast<std::shared_ptr<EditorCallsState>*>(
        GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_NCDESTROY && held != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete held;
    }
    if (message != CallMessage || held == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    const std::shared_ptr<EditorCallsState> state = *held;
    std::function<void()> call;
    {
        const std::lock_guard<std::mutex> holding(state->Lock);
        call.swap(state->Waiting);
    }
    if (!call) {
        return 0;
    }
    std::exception_ptr thrown;
    try {
        call();
    } catch (...) {
        thrown = std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> holding(state->Lock);
        state->Finished = true;
        state->Thrown = thrown;
    }
    state->Changed.notify_all();
    return 0;
}

} // namespace

EditorCalls::EditorCalls(HWND owner) : Owner(owner), State(std::make_shared<EditorCallsState>()) {
    if (owner == nullptr || GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) {
        return;
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CallsProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = CallsClass;
    RegisterClassW(&windowClass);
    Window = CreateWindowExW(0, CallsClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             windowClass.hInstance, nullptr);
    if (Window != nullptr) {
        SetWindowLongPtrW(Window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(new std::shared_ptr<EditorCallsState>(State)));
    }
}

EditorCalls::~EditorCalls() {
    Stop();
    if (Window == nullptr) {
        return;
    }
    if (GetWindowThreadProcessId(Window, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(Window);
    } else {
        PostMessageW(Window, WM_CLOSE, 0, 0);
    }
}

bool EditorCalls::Usable() const {
    return Owner == nullptr || Window != nullptr;
}

DWORD EditorCalls::OwnerThread() const {
    return Window != nullptr ? GetWindowThreadProcessId(Window, nullptr) : 0;
}

bool EditorCalls::Run(std::function<void()> call) {
    if (Window == nullptr) {
        call();
        return true;
    }
    EditorCallsState& state = *State;
    {
        const std::lock_guard<std::mutex> holding(state.Lock);
        if (state.Stopped) {
            return false;
        }
        state.Waiting = [owner = Owner, call = std::move(call)] {
            const HWND kept = StockOwner;
            StockOwner = owner;
            try {
                call();
            } catch (...) {
                StockOwner = kept;
                throw;
            }
            StockOwner = kept;
        };
        state.Finished = false;
        state.Thrown = nullptr;
    }
    std::unique_lock<std::mutex> holding(state.Lock);
    if (!PostMessageW(Window, CallMessage, 0, 0)) {
        state.Waiting = nullptr;
        return false;
    }
    state.Changed.wait(holding, [&] { return state.Finished || state.Stopped; });
    if (!state.Finished) {
        state.Waiting = nullptr; // never taken now, if not taken yet
        return false;
    }
    if (state.Thrown) {
        std::rethrow_exception(state.Thrown);
    }
    return true;
}

void EditorCalls::Stop() {
    {
        const std::lock_guard<std::mutex> holding(State->Lock);
        State->Stopped = true;
    }
    State->Changed.notify_all();
}

} // namespace tavo
