// The download's figures (scripts/bench), against nginx on loopback:
//   download_bench floor <url>
//       the floor: the download's own WinHTTP GET, its bytes discarded; "floor_mbps"
//   download_bench download <url> <size> <sha256> <folder> [half]
//       the library's download into the folder, written and hashed;
//       "download_mbps" and the process's "peak_working_set_mib"; with "half",
//       stopped once half is there (the resume's first part)
//   download_bench publish <package>
//       its index and copy written beside it, as the release tool writes them
//   download_bench delta <url> <package> <installed folder> <kept package or -> <folder>
//       the published package (served at <url>) built from the installed
//       folder and the kept package: "delta_ms" and "peak_working_set_mib"
// Prints "name value unit" lines. Measures, never tests.

#include "base/handle_owner.h"
#include "editor/download/https_get.h"
#include "release/delta_files.h"
#include "release/whole_file.h"
#include "tavo/editor_update.h"
#include "verify/checksum.h"

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using namespace tavo;

namespace {

double Seconds(ULONGLONG startMs) {
    return static_cast<double>(GetTickCount64() - startMs + 1) / 1000;
}

// The same GET as the download sends, every byte read as it reads them, and
// dropped: what the download costs beyond receiving is the rest.
int ReadAndDiscard(const std::wstring& url) {
    const ULONGLONG start = GetTickCount64();
    HttpsGet get;
    HttpsAnswer answer;
    std::vector<char> buffer(256 << 10);
    unsigned long long total = 0;
    DWORD read = 0;
    if (SendHttpsGet(url, L"", 30000, {}, get, answer) == ERROR_SUCCESS) {
        while (ReadHttpsBody(get, buffer.data(), static_cast<DWORD>(buffer.size()), read) ==
                   ERROR_SUCCESS &&
               read > 0) {
            total += read;
        }
    }
    std::printf("floor_mbps %.1f MB/s\nfloor_bytes %llu bytes\n", total / 1e6 / Seconds(start),
                total);
    return total > 0 ? 0 : 1;
}

double PeakWorkingSetMib() {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    return memory.PeakWorkingSetSize / 1048576.0;
}

int BuildFromBase(wchar_t** arguments) {
    const std::wstring url = arguments[2], package = arguments[3], kept = arguments[5];
    // Read back as the feed would name them; written by "publish", in a
    // process of its own, so that its memory is not counted here.
    PublishedFile blocks, pieces;
    DescribeFile(package + L".blocks", blocks);
    DescribeFile(package + L".gz", pieces);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(package.c_str(), GetFileExInfoStandard, &data);
    const std::uint64_t size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    blocks.Url = url + L".blocks";
    pieces.Url = pieces.Size != 0 ? url + L".gz" : L"";
    const UniqueHandle file = OpenPackageFile(package);
    const PackageOffer offer = {
        url, size, PackageChecksum(file.get()), PackageFormat::Exe, L"2.0", {}, blocks, pieces};
    DownloadOptions options;
    options.Folder = arguments[6];
    options.InstalledFolder = arguments[4];
    if (kept != L"-") {
        CreateDirectoryW((options.Folder + L"\\base").c_str(), nullptr);
        const std::wstring name = kept.substr(kept.find_last_of(L"\\/") + 1);
        CopyFileW(kept.c_str(), (options.Folder + L"\\base\\" + name).c_str(), FALSE);
    }
    const ULONGLONG start = GetTickCount64();
    const PackageDownload download = DownloadPackage(offer, options);
    std::printf("delta_result %ls %ls\ndelta_ms %llu ms\npeak_working_set_mib %.2f MiB\n",
                NameOf(download.Code), download.Detail.c_str(), GetTickCount64() - start,
                PeakWorkingSetMib());
    return download.Code == DownloadCode::Downloaded ? 0 : 1;
}

} // namespace

int wmain(int count, wchar_t** arguments) {
    if (count >= 3 && std::wstring(arguments[1]) == L"floor") {
        return ReadAndDiscard(arguments[2]);
    }
    if (count == 3 && std::wstring(arguments[1]) == L"publish") {
        PublishedFile blocks, pieces;
        return WriteDeltaFiles(arguments[2], blocks, pieces).empty() ? 0 : 1;
    }
    if (count == 7 && std::wstring(arguments[1]) == L"delta") {
        return BuildFromBase(arguments);
    }
    if (count < 6 || std::wstring(arguments[1]) != L"download") {
        std::fprintf(stderr, "usage: download_bench floor <url> | download <url> <size> "
                             "<sha256> <folder> [half]\n");
        return 64;
    }
    const PackageOffer offer = {arguments[2], std::wcstoull(arguments[3], nullptr, 10),
                                arguments[4], PackageFormat::Exe,
                                L"2.0",       {}};
    DownloadOptions options;
    options.Folder = arguments[5];
    std::stop_source stop;
    if (count > 6) {
        options.Stop = stop.get_token();
        options.OnProgress = [&stop](const DownloadProgress& progress) {
            if (progress.Received * 2 >= progress.Total) {
                stop.request_stop();
            }
        };
    }
    const ULONGLONG start = GetTickCount64();
    const PackageDownload download = DownloadPackage(offer, options);
    const double seconds = Seconds(start);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("download_result %ls %ls\ndownload_mbps %.1f MB/s\ndownload_ms %.0f ms\n"
                "peak_working_set_mib %.2f MiB\n",
                NameOf(download.Code), download.Detail.c_str(), offer.Size / 1e6 / seconds,
                seconds * 1000, memory.PeakWorkingSetSize / 1048576.0);
    return download.Code == DownloadCode::Downloaded || count > 6 ? 0 : 1;
}
