#pragma once

// The editor's callbacks on its own window's thread: a message-only window
// of the updater's, made on that thread, takes one call at a time from the
// updater's thread and runs it while the editor's message loop runs.

#include <windows.h>

#include <functional>
#include <memory>

namespace tavo {

// The window that owns the stock windows made on this thread; null: none.
inline thread_local HWND StockOwner = nullptr;

struct EditorCallsState;

class EditorCalls {
  public:
    // Made on the owner's thread; no owner: calls run where they are asked.
    explicit EditorCalls(HWND owner);
    EditorCalls(const EditorCalls&) = delete;
    EditorCalls& operator=(const EditorCalls&) = delete;
    // On the owner's thread, its window goes at once; elsewhere, once that
    // thread's loop reads the close.
    ~EditorCalls();

    // False when an owner was given that is no window of this thread.
    bool Usable() const;
    DWORD OwnerThread() const;
    // Runs the call there, and waits for it or for Stop; what it throws is
    // thrown here. False when it did not finish (stopped, or no loop ran it).
    bool Run(std::function<void()> call);
    // Ends every wait of Run, now and later.
    void Stop();

  private:
    HWND Owner = nullptr;
    HWND Window = nullptr;
    std::shared_ptr<EditorCallsState> State;
};

} // namespace tavo
