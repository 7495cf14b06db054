// The updater's cost to an editor's start: the same small editor started
// again and again, with and without the start-up call and the updater's
// construction (automatic checks on), each time measured from the start to
// the moment its main goes on (an event it sets); and, inside the editor, the
// time the two calls take (its exit code, in microseconds), which a process
// start's spread under Wine does not blur. Prints figures as "name value" lines.
//
// And its idle cost: an editor with an updater that waits for its next check,
// against the same editor without one, over 10 s: private bytes added and CPU
// time used, from just before the updater is made.
//
// updater_bench <runs> <updates folder>
// updater_bench child <plain|updater> <event> <updates folder>   (the editor)
// updater_bench idle <plain|updater> <updates folder>             (the idle editor)

#include "editor/feed/update_state.h"
#include "harness.h"
#include "tavo/editor_updater.h"

#include <psapi.h>
#include <shellapi.h>

#include <ctime>

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

std::uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters.PrivateUsage;
}

double CpuMilliseconds() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

// The idle editor: its private bytes and CPU time over 10 s, into idle-<mode>.txt.
int RunIdle(const std::wstring& mode, const std::wstring& folder) {
    const std::wstring updates = folder + L"\\" + mode;
    CreateDirectoryW(updates.c_str(), nullptr);
    // Checked a moment ago: the updater waits a day for its next check.
    UpdateState state;
    std::wstring problem;
    ReadUpdateState(updates + L"\\update state.json", state, problem);
    state.LastCheck = static_cast<std::int64_t>(std::time(nullptr));
    WriteUpdateState(updates + L"\\update state.json", state);
    const std::uint64_t bytes = PrivateBytes();
    const double cpu = CpuMilliseconds();
    std::optional<tavo::Updater> updater;
    if (mode == L"updater") {
        tavo::UpdaterSettings settings;
        settings.FeedUrl = L"https://localhost:1/stable.json";
        settings.UpdatesFolder = updates;
        settings.RunningVersion = L"1.0";
        // An editor the hand-over would take: named as one, the helper beside it.
        settings.EditorPath = ExecutableFolder() + L"\\tavoPDFEditor.exe";
        settings.EditorProcessId = GetCurrentProcessId();
        updater.emplace(settings, tavo::UpdaterCallbacks());
    }
    Sleep(10000); // the editor idles, as editors mostly do
    const double kib = (static_cast<double>(PrivateBytes()) - static_cast<double>(bytes)) / 1024;
    WriteBytes(folder + L"\\idle-" + mode + L".txt",
               std::to_string(kib) + " " + std::to_string(CpuMilliseconds() - cpu));
    return 0;
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
    if (count == 4 && std::wstring(arguments[1]) == L"idle") {
        return RunIdle(arguments[2], arguments[3]);
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
    // The two idle editors side by side, so that the machine's moment is the same.
    const std::wstring self = ExecutableFolder() + L"\\updater_bench.exe";
    std::vector<StartedProcess> idle;
    for (const wchar_t* mode : {L"plain", L"updater"}) {
        idle.push_back(StartProcess(
            self, std::wstring(L"updater_bench idle ") + mode + L" \"" + folder + L"\"", folder));
    }
    double kib[2] = {}, cpu[2] = {};
    for (size_t index = 0; index < 2; ++index) {
        WaitForSingleObject(idle[index].Process, 60000);
        EndProcess(idle[index]);
        const std::string figures =
            ReadBytes(folder + (index == 0 ? L"\\idle-plain.txt" : L"\\idle-updater.txt"))
                .value_or("0 0");
        std::sscanf(figures.c_str(), "%lf %lf", &kib[index], &cpu[index]);
    }
    std::printf("updater_idle_private_kib %.0f\nupdater_idle_cpu_ms %.1f\n", kib[1] - kib[0],
                cpu[1] - cpu[0]);
    return 0;
}
