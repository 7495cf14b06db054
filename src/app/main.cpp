#include "app/update_run.h"
#include "base/system_libraries.h"

#include <memory>

namespace {

void FreeArgumentArray(LPWSTR* arguments) {
    LocalFree(arguments);
}

} // namespace

// A GUI-subsystem program without a window: no console appears when the
// editor starts it, and the parameters Windows passes are not needed.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Before anything can load a library: the helper is often started from a
    // folder its user can write to, and it starts an elevated installer, so a
    // library planted beside it must never be loaded. From here on libraries
    // come from the system folder only (the current folder is dropped too).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    // Without shell32 the command line cannot be split, which is a refusal.
    const ShellFunctions* shell = ShellLibrary();
    int argumentCount = 0;
    LPWSTR* split =
        shell != nullptr ? shell->CommandLineToArgv(GetCommandLineW(), &argumentCount) : nullptr;
    if (split == nullptr) {
        return 2;
    }
    const std::unique_ptr<LPWSTR, decltype(&FreeArgumentArray)> arguments(split,
                                                                          &FreeArgumentArray);
    return RunUpdateCatchingAll(argumentCount, arguments.get());
}
