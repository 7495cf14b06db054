// Measures the helper's own cost against the platform's, side by side in one
// run, and prints one "name value unit" line per figure (scripts/bench turns
// them into a table). Every ratio compares figures of this same run.
//
// helper_bench <work folder> <sha256 of each checksum file> <files...>: see
// scripts/bench for the exact arguments.

#include "editor/handover/package_signer.h"
#include "harness.h"
#include "handoff/suite_scan.h"
#include "install/installer_command_line.h"
#include "verify/checksum.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace tavo;

namespace {

std::string WideToUtf8(const std::wstring& text) {
    return std::string(text.begin(), text.end()); // labels are ASCII
}

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

long long FileTimeTicks(const FILETIME& time) {
    return (static_cast<long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void Figure(const std::string& name, double value, const char* unit) {
    std::printf("%s %.3f %s\n", name.c_str(), value, unit);
    std::fflush(stdout);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The helper's step: open as the run does, hash through the handle.
double HelperChecksumMs(const std::wstring& path, const std::wstring& digest) {
    const double start = NowMs();
    const UniqueHandle package = OpenPackageFile(path);
    const bool verified = VerifyPackageChecksum(package.get(), digest);
    const double elapsed = NowMs() - start;
    if (!verified) {
        std::fprintf(stderr, "checksum did not verify: %ls\n", path.c_str());
        std::exit(1);
    }
    return elapsed;
}

// The same bcrypt calls over the same number of bytes, already in memory.
double PrimitiveChecksumMs(long long bytes) {
    static std::vector<unsigned char> chunk(ChecksumReadChunkBytes, 0x5A);
    const double start = NowMs();
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    DWORD objectLength = 0;
    ULONG resultSize = 0;
    BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                      sizeof(objectLength), &resultSize, 0);
    std::vector<unsigned char> object(objectLength, 0);
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptCreateHash(algorithm, &hash, object.data(), objectLength, nullptr, 0, 0);
    for (long long fed = 0; fed < bytes; fed += ChecksumReadChunkBytes) {
        const ULONG size =
            static_cast<ULONG>(std::min<long long>(ChecksumReadChunkBytes, bytes - fed));
        BCryptHashData(hash, chunk.data(), size, 0);
    }
    unsigned char digest[32];
    BCryptFinishHash(hash, digest, sizeof(digest), 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return NowMs() - start;
}

void WarmPageCache(const std::wstring& path) {
    ReadBytes(path);
}

// Checksum throughput: best of three, helper and primitive interleaved.
double MeasureChecksum(const std::wstring& label, const std::wstring& path,
                       const std::wstring& digest) {
    const long long bytes = FileSize(path);
    WarmPageCache(path);
    double helper = 1e30;
    double primitive = 1e30;
    for (int round = 0; round < 3; ++round) {
        helper = std::min(helper, HelperChecksumMs(path, digest));
        primitive = std::min(primitive, PrimitiveChecksumMs(bytes));
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    const std::string name = WideToUtf8(label);
    Figure("checksum_mbps_" + name, megabytes / (helper / 1000.0), "MB/s");
    Figure("primitive_mbps_" + name, megabytes / (primitive / 1000.0), "MB/s");
    Figure("checksum_ratio_" + name, primitive / helper, "ratio");
    return primitive / bytes; // ms per byte of the raw primitive
}

// The editor's signature check beside one SHA-256 pass over the same signed
// package, both through a handle as the library and the helper hold it;
// median of 5, the two taking turns.
void MeasureSignatureCheck(const std::wstring& path, const std::wstring& digest) {
    WarmPageCache(path);
    std::vector<double> signature;
    std::vector<double> checksum;
    for (int round = 0; round < 5; ++round) {
        const UniqueHandle package = OpenPackageFile(path);
        double start = NowMs();
        const PackageSigner signer = ReadPackageSigner(package.get(), path);
        signature.push_back(NowMs() - start);
        SetFilePointer(package.get(), 0, nullptr, FILE_BEGIN);
        start = NowMs();
        const bool verified = VerifyPackageChecksum(package.get(), digest);
        checksum.push_back(NowMs() - start);
        if (!verified || signer.State != SignatureState::Signed || !signer.ChainTrusted) {
            std::fprintf(stderr, "the signed package did not verify: %ls\n", path.c_str());
            std::exit(1);
        }
    }
    Figure("signature_check_ms_256mib", Median(signature), "ms");
    Figure("sha256_pass_ms_256mib", Median(checksum), "ms");
    Figure("signature_ratio", Median(signature) / Median(checksum), "ratio");
}

struct Installation {
    std::wstring Folder;
    std::wstring EditorPath;
    StartedProcess Editor;
    UpdateHandoff Handoff;
};

Installation InstallAndStartEditor(const std::wstring& work, const std::wstring& name) {
    Installation installation;
    installation.Folder = work + L"\\" + name + L"\\Tavo PDF";
    CreateDirectoryW((work + L"\\" + name).c_str(), nullptr);
    CreateDirectoryW(installation.Folder.c_str(), nullptr);
    installation.EditorPath = installation.Folder + L"\\tavoPDFEditor.exe";
    CopyFileW((FixturesFolder() + L"\\editor-1.0\\tavoPDFEditor.exe").c_str(),
              installation.EditorPath.c_str(), FALSE);
    installation.Editor = StartStandIn(installation.EditorPath);
    return installation;
}

void EndInstallation(Installation& installation) {
    EndStandIns(installation.Folder);
    EndProcess(installation.Editor);
}

// The update of the stand-in editor to 2.0, as its editor would order it;
// started through the editor's library, which a benchmark must not fail.
void StartUpdate(Installation& installation, const std::wstring& helper,
                 const std::wstring& package, const std::wstring& digest,
                 const std::wstring& statusPath) {
    UpdateOrder order;
    order.HelperPath = helper;
    order.PackagePath = package;
    order.PackageSha256 = digest;
    order.PackageKind = package.ends_with(L".msi") ? PackageFormat::Msi : PackageFormat::Exe;
    order.TargetVersion = L"2.0";
    order.StatusFilePath = statusPath;
    order.EditorProcessId = installation.Editor.ProcessId;
    order.EditorPath = installation.EditorPath;
    if (!StartHelper(order, installation.Handoff)) {
        std::exit(1);
    }
}

// Peak memory of a real run that ends at the checksum step (a wrong digest).
// Wine keeps no high-water mark of private bytes (its "peak" is the current
// figure), but its peak working set is a true one (Linux's VmHWM): the
// growth is judged on that.
void MeasureMemory(const std::wstring& work, const std::wstring& label, const std::wstring& package,
                   const std::wstring& reportExe, std::map<std::wstring, double>& peakWorkingSet) {
    Installation installation = InstallAndStartEditor(work, L"memory-" + label);
    const std::wstring report = work + L"\\memory-" + label + L".txt";
    SetEnvironmentVariableW(L"TAVO_BENCH_MEMORY_REPORT", report.c_str());
    StartUpdate(installation, reportExe, package, std::wstring(64, L'0'),
                work + L"\\status-memory.txt");
    const UpdateHandoff& handoff = installation.Handoff;
    const HelperEnd end = AwaitHelperEnd(handoff.Helper.get(), handoff.HelperProcessId, 120000);
    SetEnvironmentVariableW(L"TAVO_BENCH_MEMORY_REPORT", nullptr);
    EndInstallation(installation);
    if (!end.Ended || end.ExitCode != 4) {
        std::fprintf(stderr, "memory run did not end at the checksum step (%lu)\n", end.ExitCode);
        std::exit(1);
    }
    const std::string text = ReadBytes(report).value_or("");
    unsigned long long workingSet = 0;
    unsigned long long privateUsage = 0;
    std::sscanf(text.c_str(), "peak_working_set_bytes %llu\npeak_private_bytes %llu", &workingSet,
                &privateUsage);
    const std::string name = WideToUtf8(label);
    Figure("peak_working_set_mib_" + name, static_cast<double>(workingSet) / 1048576.0, "MiB");
    Figure("peak_private_mib_" + name, static_cast<double>(privateUsage) / 1048576.0, "MiB");
    peakWorkingSet[label] = static_cast<double>(workingSet);
}

double MeasureBareStartMs(const std::wstring& work) {
    std::vector<double> times;
    const std::wstring trivial = ExecutableFolder() + L"\\bench_trivial_start.exe";
    for (int round = 0; round < 7; ++round) {
        const std::wstring name = L"Local\\TavoBenchStarted-" + std::to_wstring(round);
        HANDLE started = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        const double start = NowMs();
        StartedProcess process =
            StartProcess(trivial, QuoteArgument(trivial) + L" " + QuoteArgument(name), work);
        WaitForSingleObject(started, 30000);
        times.push_back(NowMs() - start);
        WaitForSingleObject(process.Process, 30000);
        EndProcess(process);
        CloseHandle(started);
    }
    return Median(times);
}

// Process start to exit for each command line, the median of `rounds`, the
// command lines taking turns so that each sees the same machine.
std::vector<double> MedianStartToExitMs(const std::wstring& work,
                                        const std::vector<std::wstring>& commandLines, int rounds) {
    std::vector<std::vector<double>> times(commandLines.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t index = 0; index < commandLines.size(); ++index) {
            const std::wstring& line = commandLines[index];
            const std::wstring program = line.substr(1, line.find(L'"', 1) - 1);
            const double start = NowMs();
            StartedProcess process = StartProcess(program, line, work);
            WaitForSingleObject(process.Process, 30000);
            times[index].push_back(NowMs() - start);
            EndProcess(process);
        }
    }
    std::vector<double> medians;
    for (const std::vector<double>& each : times) {
        medians.push_back(Median(each));
    }
    return medians;
}

// From the helper's start to its ready event, through every check of a run.
double MeasureTimeToReadyMs(const std::wstring& work, const std::wstring& label,
                            const std::wstring& package, const std::wstring& digest) {
    std::vector<double> times;
    for (int round = 0; round < 10; ++round) {
        Installation installation =
            InstallAndStartEditor(work, L"ready-" + label + L"-" + std::to_wstring(round));
        UpdateHandoff& handoff = installation.Handoff;
        const double start = NowMs();
        StartUpdate(installation, HelperExecutablePath(), package, digest,
                    work + L"\\status-ready.txt");
        const bool ready = AwaitHelperReady(handoff, 120000).State == HelperState::Ready;
        const double elapsed = NowMs() - start;
        CancelUpdate(handoff);
        AwaitHelperEnd(handoff.Helper.get(), handoff.HelperProcessId, 30000);
        EndInstallation(installation);
        if (!ready) {
            std::fprintf(stderr, "the helper did not become ready\n");
            std::exit(1);
        }
        times.push_back(elapsed);
    }
    return Median(times);
}

double MeasureScanMs(const std::wstring& work, int extraProcesses) {
    const std::wstring installFolder = work + L"\\scan-install";
    const std::wstring elsewhere = work + L"\\scan-elsewhere-" + std::to_wstring(extraProcesses);
    CreateDirectoryW(installFolder.c_str(), nullptr);
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    // Suite names in another folder: each one is opened and inspected, the
    // scan's most expensive path, and none of them counts.
    std::vector<StartedProcess> running;
    for (int index = 0; index < extraProcesses; ++index) {
        const std::wstring path =
            elsewhere + L"\\" + std::to_wstring(index) + L"\\" + SuiteExecutableNames[index % 6];
        CreateDirectoryW((elsewhere + L"\\" + std::to_wstring(index)).c_str(), nullptr);
        running.push_back(StartStandIn(path));
    }
    IsSuiteApplicationRunning(installFolder, 0);
    const int calls = 50;
    const double start = NowMs();
    bool found = false;
    for (int call = 0; call < calls; ++call) {
        found = IsSuiteApplicationRunning(installFolder, 0) || found;
    }
    const double perCall = (NowMs() - start) / calls;
    for (StartedProcess& process : running) {
        EndProcess(process);
    }
    if (found) {
        std::fprintf(stderr, "the scan found a suite application where there is none\n");
        std::exit(1);
    }
    return perCall;
}

// When a setup recorded its start: its record file's creation time.
long long RecordTicks(const std::wstring& folder) {
    WIN32_FILE_ATTRIBUTE_DATA record = {};
    GetFileAttributesExW((folder + L"\\launches.log").c_str(), GetFileExInfoStandard, &record);
    return FileTimeTicks(record.ftCreationTime);
}

long long NowTicks() {
    FILETIME now = {};
    GetSystemTimePreciseAsFileTime(&now);
    return FileTimeTicks(now);
}

// The NSIS setup's own start, started directly: from its start to its record,
// which it writes only after unpacking its plugin. Median of 5.
double MeasureSetupStartToRecordMs(const std::wstring& work) {
    std::vector<double> times;
    for (int round = 0; round < 5; ++round) {
        const std::wstring folder = work + L"\\setup-" + std::to_wstring(round);
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring setup = folder + L"\\Tavo PDF Setup 2.0.exe";
        CopyFileW((FixturesFolder() + L"\\packages\\editor-2.0.exe").c_str(), setup.c_str(), 0);
        const long long start = NowTicks();
        StartedProcess process =
            StartProcess(setup, QuoteArgument(setup) + L" /S /D=" + folder + L"\\Tavo PDF", folder);
        WaitForSingleObject(process.Process, 60000);
        EndProcess(process);
        times.push_back(static_cast<double>(RecordTicks(folder) - start) / 10000.0);
    }
    return Median(times);
}

// From the editor's end to the EXE setup's start, as the setup recorded it.
double MeasureExitToInstallerMs(const std::wstring& work) {
    std::vector<double> times;
    for (int round = 0; round < 3; ++round) {
        Installation installation = InstallAndStartEditor(work, L"exit-" + std::to_wstring(round));
        const std::wstring downloads = installation.Folder + L"\\..\\Downloads";
        CreateDirectoryW(downloads.c_str(), nullptr);
        const std::wstring package = downloads + L"\\Tavo PDF Setup 2.0.exe";
        CopyFileW((FixturesFolder() + L"\\packages\\editor-2.0.exe").c_str(), package.c_str(),
                  FALSE);
        UpdateHandoff& handoff = installation.Handoff;
        StartUpdate(installation, HelperExecutablePath(), package, Sha256OfFile(package),
                    work + L"\\status-exit.txt");
        if (AwaitHelperReady(handoff, 60000).State != HelperState::Ready ||
            CommitUpdate(handoff) != CommitResult::Committed) {
            std::fprintf(stderr, "the helper did not become ready\n");
            std::exit(1);
        }
        TerminateProcess(installation.Editor.Process, 0);
        WaitForSingleObject(installation.Editor.Process, 30000);
        const long long editorEnded = NowTicks();
        const HelperEnd end = AwaitHelperEnd(handoff.Helper.get(), handoff.HelperProcessId, 60000);
        EndInstallation(installation);
        if (!end.Ended || end.ExitCode != 0 || ReadStarts(downloads).size() != 1) {
            std::fprintf(stderr, "the EXE update did not run through (%lu)\n", end.ExitCode);
            std::exit(1);
        }
        times.push_back(static_cast<double>(RecordTicks(downloads) - editorEnded) / 10000.0);
    }
    return Median(times);
}

} // namespace

// helper_bench <work> <file64> <digest64> <file256> <digest256> <file1g> <digest1g>
//              <package 1 MiB> <package 1 GiB> <msi 1 MiB> <digest> <msi 256 MiB> <digest>
//              <signed exe 256 MiB> <digest>
int wmain(int argumentCount, wchar_t** arguments) {
    if (argumentCount != 16) {
        std::fprintf(stderr, "helper_bench: see scripts/bench for the arguments\n");
        return 64;
    }
    const std::wstring work = arguments[1];
    std::printf("# checksum: files in the page cache, best of 3\n");
    MeasureChecksum(L"64mib", arguments[2], arguments[3]);
    const double primitiveMsPerByte256 = MeasureChecksum(L"256mib", arguments[4], arguments[5]);
    MeasureChecksum(L"1gib", arguments[6], arguments[7]);

    std::printf("# signature check: median of 5, beside one SHA-256 pass of the same bytes\n");
    MeasureSignatureCheck(arguments[14], arguments[15]);

    std::printf("# memory: peak figures of a run that ends at the checksum step\n");
    std::map<std::wstring, double> peakWorkingSet;
    const std::wstring reportExe = ExecutableFolder() + L"\\bench_helper_memory_report.exe";
    MeasureMemory(work, L"1mib", arguments[8], reportExe, peakWorkingSet);
    MeasureMemory(work, L"1gib", arguments[9], reportExe, peakWorkingSet);
    Figure("memory_growth_mib", (peakWorkingSet[L"1gib"] - peakWorkingSet[L"1mib"]) / 1048576.0,
           "MiB");

    std::printf("# start-up: median of 15, start to exit, taking turns with the floor\n");
    const std::wstring trivial = QuoteArgument(ExecutableFolder() + L"\\bench_trivial_start.exe");
    const std::vector<double> starts = MedianStartToExitMs(
        work,
        {trivial, QuoteArgument(HelperExecutablePath()), trivial + L" load msi.dll",
         trivial + L" load version.dll", trivial + L" load bcrypt.dll"},
        15);
    const double floor = starts[0];
    Figure("floor_start_ms", floor, "ms");
    Figure("bad_request_ms", starts[1], "ms");
    Figure("bad_request_ratio", starts[1] / floor, "ratio");
    Figure("msi_load_ms", starts[2] - floor, "ms");
    Figure("version_load_ms", starts[3] - floor, "ms");
    Figure("bcrypt_load_ms", starts[4] - floor, "ms");

    std::printf("# time to ready: median of 10, process start to ready event\n");
    const double bareStart = MeasureBareStartMs(work);
    Figure("bare_start_ms", bareStart, "ms");
    const std::wstring setup = work + L"\\Tavo PDF Setup 2.0.exe";
    CopyFileW((FixturesFolder() + L"\\packages\\editor-2.0.exe").c_str(), setup.c_str(), FALSE);
    const double readyExe = MeasureTimeToReadyMs(work, L"exe", setup, Sha256OfFile(setup));
    Figure("ready_ms_exe", readyExe, "ms");
    const double hashExe = primitiveMsPerByte256 * static_cast<double>(FileSize(setup));
    Figure("helper_share_ms_exe", readyExe - floor - hashExe, "ms");
    const double ready1 = MeasureTimeToReadyMs(work, L"1mib", arguments[10], arguments[11]);
    Figure("ready_ms_1mib", ready1, "ms");
    const double ready256 = MeasureTimeToReadyMs(work, L"256mib", arguments[12], arguments[13]);
    Figure("ready_ms_256mib", ready256, "ms");
    const double hash256 = primitiveMsPerByte256 * static_cast<double>(FileSize(arguments[12]));
    Figure("pure_hash_ms_256mib", hash256, "ms");
    Figure("helper_share_ms_1mib", ready1 - floor, "ms");
    Figure("helper_share_ms", ready256 - floor - hash256, "ms");

    std::printf("# running-application scan: per call, 50 calls\n");
    Figure("scan_ms_5", MeasureScanMs(work, 5), "ms");
    Figure("scan_ms_60", MeasureScanMs(work, 60), "ms");

    std::printf("# editor exit to installer start: median of 3, EXE setup, less the setup's\n"
                "# own start to its record (median of 5, started directly)\n");
    const double exitToRecord = MeasureExitToInstallerMs(work);
    const double setupOwn = MeasureSetupStartToRecordMs(work);
    Figure("exit_to_setup_record_ms", exitToRecord, "ms");
    Figure("setup_start_to_record_ms", setupOwn, "ms");
    Figure("exit_to_installer_ms", exitToRecord - setupOwn, "ms");
    return 0;
}
