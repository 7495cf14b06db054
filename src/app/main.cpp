#include "app/update_run.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

namespace {

void FreeArgumentArray(LPWSTR* arguments) {
    LocalFree(arguments);
}

} // namespace

// A GUI-subsystem program without a window: no console appears when the
// editor starts it, and the parameters Windows passes are not needed.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argumentCount = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &argumentCount);
    if (split == nullptr) {
        return 2;
    }
    const std::unique_ptr<LPWSTR, decltype(&FreeArgumentArray)> arguments(split,
                                                                          &FreeArgumentArray);
    return RunUpdateCatchingAll(argumentCount, arguments.get());
}
