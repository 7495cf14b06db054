// The updater's cost to an editor's start: the same small editor started
// again and again, with and without the start-up call and the updater's
// construction (automatic checks on), each time measured from the start to
// the moment its main goes on (an event it sets); and, inside the editor, the
// time the two calls take (its exit code, in microseconds), which a process
// start's spread under Wine does not blur. Prints figures as "name value" lines.
//
// updater_bench <runs> <updates folder>
// updater_bench child <plain|updater> <event> <updates folder>   (the editor)

#include "harness.h"
#include "tavo/editor_updater.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

int RunAsEditor(int count, wchar_t** arguments) {
    std::optional<tavo::Updater> updater;
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    if (std::wstring(arguments[2]) == L"updater") {
        const tavo::UpdateRestart restart = tavo::HandleUpdateRestart(count, arguments);
        tavo::UpdaterSettings settings;
        settings.FeedUrl = L"https://localhost:1/stable.json"; // refused at once: nothing listens
        settings.UpdatesFolder = arguments[4];
        settings.RunningVersion = L"1.0";
        updater.emplace(settings, tavo::UpdaterCallbacks());
    }
    QueryPerformanceCounter(&after);
    const HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[3]);
    SetEvent(started);
    CloseHandle(started);
    return static_cast<int>(1000000 * (after.QuadPart - before.QuadPart) / frequency.QuadPart);
}

// Milliseconds from the start to the event, the median of `runs` starts; and
// the median of the editor's own time for the calls.
double MedianStart(const std::wstring& mode, int runs, const std::wstring& folder, double& calls) {
    std::vector<double> times, own;
    const std::wstring self = ExecutableFolder() + L"\\updater_bench.exe";
    for (int run = 0; run < runs; ++run) {
        const std::wstring name = L"Local\\TavoUpdaterBench-" + std::to_wstring(run);
        const HANDLE started = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        LARGE_INTEGER frequency, before, after;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&before);
        StartedProcess child = StartProcess(
            self, L"updater_bench child " + mode + L" " + name + L" \"" + folder + L"\"", folder);
        WaitForSingleObject(started, 30000);
        QueryPerformanceCounter(&after);
        times.push_back(1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                        static_cast<double>(frequency.QuadPart));
        WaitForSingleObject(child.Process, 30000);
        DWORD microseconds = 0;
        GetExitCodeProcess(child.Process, &microseconds);
        own.push_back(microseconds / 1000.0);
        EndProcess(child);
        CloseHandle(started);
    }
    std::sort(times.begin(), times.end());
    std::sort(own.begin(), own.end());
    calls = own[own.size() / 2];
    return times[times.size() / 2];
}

} // namespace

int wmain(int count, wchar_t** arguments) {
    if (count == 5 && std::wstring(arguments[1]) == L"child") {
        return RunAsEditor(count, arguments);
    }
    if (count != 3) {
        std::fprintf(stderr, "usage: updater_bench <runs> <updates folder>\n");
        return 64;
    }
    const int runs = std::stoi(arguments[1]);
    const std::wstring folder = arguments[2];
    // Interleaved rounds, so that a slower moment of the machine hits both.
    double plain = 0, updater = 0, calls = 0, none = 0, own = 0;
    for (int round = 0; round < 3; ++round) {
        plain += MedianStart(L"plain", runs, folder, none) / 3;
        updater += MedianStart(L"updater", runs, folder, own) / 3;
        calls += own / 3;
    }
    std::printf("updater_plain_start_ms %.1f\nupdater_start_ms %.1f\n"
                "updater_start_diff_ms %.1f\nupdater_adds_ms %.2f\n",
                plain, updater, updater - plain, calls);
    return 0;
}
