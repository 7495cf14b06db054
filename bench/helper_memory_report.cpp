// The update helper as shipped, plus one thing for the benchmark only: when
// it ends it writes its own peak memory figures to the file named by
// TAVO_BENCH_MEMORY_REPORT. The shipped exe is built from src/app/main.cpp
// and has no such switch.

#include "app/update_run.h"

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

void ReportPeakMemory() {
    const wchar_t* reportPath = _wgetenv(L"TAVO_BENCH_MEMORY_REPORT");
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (reportPath == nullptr ||
        !GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof(counters))) {
        return;
    }
    FILE* report = _wfopen(reportPath, L"w");
    if (report == nullptr) {
        return;
    }
    std::fprintf(report, "peak_working_set_bytes %llu\npeak_private_bytes %llu\n",
                 static_cast<unsigned long long>(counters.PeakWorkingSetSize),
                 static_cast<unsigned long long>(counters.PeakPagefileUsage));
    std::fclose(report);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    int argumentCount = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount);
    if (arguments == nullptr) {
        return 2;
    }
    const int exitCode = RunUpdateCatchingAll(argumentCount, arguments);
    LocalFree(arguments);
    ReportPeakMemory();
    return exitCode;
}
