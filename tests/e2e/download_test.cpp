// The download against a real web server: nginx over HTTPS for localhost
// (and its slow /slow/ and redirecting /to-http/ locations), and the faults
// nginx does not make on purpose from the fault server beside it. Each row
// serves a fixture package under a name of its own and downloads it into a
// folder of its own; it checks the result, the bytes handed over or kept,
// and what nginx's access log says was sent.

#include "base/handle_owner.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <stdexcept>
#include <thread>

using namespace tavo;

namespace {

// The server a row names: nginx, the fault server, or the fault server
// behind a certificate the machine does not trust.
std::wstring BaseOf(const std::wstring& server) {
    return Environment(server.starts_with(L"web")         ? L"TAVO_TEST_WEB"
                       : server.starts_with(L"untrusted") ? L"TAVO_TEST_UNTRUSTED"
                                                          : L"TAVO_TEST_FAULTS");
}

const std::wstring Packages = FixturesFolder() + L"\\packages\\";
const std::wstring Signed = Packages + L"signed\\editor-2.0-3.msi"; // the publisher's
const std::wstring Unsigned = Packages + L"editor-2.0-1.msi";       // and one of another size

enum class First {
    None,
    StoppedAtHalf,
    StoppedAtHalfThenChanged,
    StillRunning,
    PartialOfAnotherOffer, // whole-size, with its record
    OtherBytesOfItsSize,   // as the final file
    StopOnceAsked,         // from another thread, once the server has the request
};

struct Row {
    const char* Situation;
    const wchar_t* Server; // the URL's start: a location of nginx's, or a fault
    First Before = First::None;
    void (*Edit)(PackageOffer&) = nullptr;
    DownloadCode Code = DownloadCode::Downloaded;
    const wchar_t* Detail = L"";
    bool Kept = false; // an unfinished file stays for the next attempt
    void (*Tune)(DownloadOptions&) = nullptr;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.Situation;
}

void ThrowAtOnce(const DownloadProgress&) {
    throw std::runtime_error("the editor's callback");
}

const Row Rows[] = {
    {"WholeOverHttps", L"web:/"},
    {"CutAtHalfThenResumedWithTheRestOnly", L"web:/", First::StoppedAtHalf},
    {"ChangedOnTheServerBetweenTheTwoStartsOver", L"web:/", First::StoppedAtHalfThenChanged},
    {"LongerThanTheOfferSays", L"web:/", First::None, [](PackageOffer& o) { o.Size -= 1; },
     DownloadCode::ServerRefused, L"the server sends 1 byte more than the offer"},
    {"ServerSendsMoreThanItPromised", L"faults:/endless/", First::None, nullptr,
     DownloadCode::ServerRefused, L"the server sends more than the offer's"},
    {"StallsAfterHalf", L"faults:/stall/", First::None, nullptr, DownloadCode::Stalled,
     L"no byte at half within the stall limit", true},
    {"DropsTheConnectionHalfway", L"faults:/drop/", First::None, nullptr,
     DownloadCode::NetworkFailed, L"the connection ended at half", true},
    {"SecondAttemptWhileOneRuns", L"web:/slow/", First::StillRunning, nullptr,
     DownloadCode::AlreadyDownloading},
    {"RedirectedToHttp", L"web:/to-http/", First::None, nullptr, DownloadCode::ServerRefused,
     L"redirected to a URL that is not https://"},
    {"WrongSha256", L"web:/", First::None,
     [](PackageOffer& o) { o.Sha256[0] = o.Sha256[0] == L'0' ? L'1' : L'0'; },
     DownloadCode::CheckFailed, L"SHA-256: the file's is "},
    {"SignerNotPinned", L"web:/", First::None,
     [](PackageOffer& o) { o.PublisherKeys = {KeyPin(L"renewed")}; }, DownloadCode::CheckFailed,
     L"package: signed by \"Tavo PDF Software\" with key "},
    {"PlainHttp", L"http:/", First::None, nullptr, DownloadCode::OfferRefused,
     L"URL: not https://"},
    {"OverTheHelpersTwoGibibytes", L"web:/", First::None,
     [](PackageOffer& o) { o.Size = (1ull << 31) + 1; }, DownloadCode::OfferRefused,
     L"size: not 1 to 2147483648 bytes"},
    {"BlockIndexOverPlainHttp", L"web:/", First::None,
     [](PackageOffer& o) {
         o.Blocks = {L"http://localhost/i.blocks", 9, o.Sha256};
     },
     DownloadCode::OfferRefused, L"block index: not an https:// URL with a size and SHA-256"},
    {"UrlWinHttpCannotRead", L"web:/", First::None, [](PackageOffer& o) { o.Url = L"https://"; },
     DownloadCode::OfferRefused, L"URL: not a URL WinHTTP can read"},
    {"StallLimitOfZeroWhichWinHttpReadsAsNone", L"web:/", First::None, nullptr,
     DownloadCode::OfferRefused, L"stall limit: not 1 to 600000 ms", false,
     [](DownloadOptions& o) { o.StallLimitMs = 0; }},
    {"PartialOfAnEarlierOfferIsNotResumed", L"web:/", First::PartialOfAnotherOffer},
    {"OtherBytesOfTheOffersSizeAreFetchedAgain", L"web:/", First::OtherBytesOfItsSize},
    {"ResumedFromAServerThatIgnoresIfRange", L"faults:/new-206/", First::StoppedAtHalf},
    {"ServerSilentAfterTheRequest", L"faults:/silent/", First::None, nullptr, DownloadCode::Stalled,
     L"no byte asking for the package within the stall limit"},
    {"StoppedWhileTheServerIsSilent", L"faults:/silent/", First::StopOnceAsked, nullptr,
     DownloadCode::Stopped, L"", false, [](DownloadOptions& o) { o.StallLimitMs = 60000; }},
    {"ProgressCallbackThrows", L"web:/slow/", First::None, nullptr, DownloadCode::Stopped,
     L"thrown", true, [](DownloadOptions& o) { o.OnProgress = ThrowAtOnce; }},
    {"ServerCertificateNotTrusted", L"untrusted:/drop/", First::None, nullptr,
     DownloadCode::NetworkFailed, L"Windows error 12157 asking for the package"},
    {"RedirectedInALoop", L"web:/loop/", First::None, nullptr, DownloadCode::ServerRefused,
     L"redirected to a URL that is not https://, or redirected more than ten times (a loop)"},
};

class Download : public testing::TestWithParam<Row> {};

TEST_P(Download, EndsAsTheRowSays) {
    const Row& row = GetParam();
    const std::wstring folder = MakeWorkFolder(L"download");
    const std::wstring name = std::filesystem::path(folder).filename().wstring() + L".msi";
    const std::wstring served = Environment(L"TAVO_TEST_WWW") + L"\\" + name;
    ASSERT_TRUE(CopyFileW(Signed.c_str(), served.c_str(), FALSE)) << "no web servers";
    const std::wstring server = row.Server;
    const size_t colon = server.find(L':');
    const std::wstring base = server.starts_with(L"http:") ? L"http://localhost" : BaseOf(server);
    PackageOffer offer = {base + server.substr(colon + 1) + name,
                          std::filesystem::file_size(Signed),
                          Sha256OfFile(Signed),
                          PackageFormat::Msi,
                          L"2.0",
                          {KeyPin(L"publisher")}};
    const std::wstring final = folder + L"\\tavoPDF-2.0.msi";
    const std::wstring partial = final + L".partial";
    DownloadOptions options{folder, 2000, {}, {}};
    std::stop_source stop;
    std::thread running;
    PackageDownload first;
    if (row.Before == First::StoppedAtHalf || row.Before == First::StoppedAtHalfThenChanged ||
        row.Before == First::StillRunning) {
        // A first attempt from the slow location, stopped once half is there
        // (or, still running, once the second attempt has been made).
        PackageOffer slow = offer;
        slow.Url = Environment(L"TAVO_TEST_WEB") + L"/slow/" + name;
        options.Stop = stop.get_token();
        options.OnProgress = [&](const DownloadProgress& progress) {
            if (progress.Received * 2 >= progress.Total && row.Before != First::StillRunning) {
                stop.request_stop();
            }
        };
        if (row.Before == First::StillRunning) {
            running =
                std::thread([slow, options, &first] { first = DownloadPackage(slow, options); });
            for (int tries = 0; tries < 3000 && !std::filesystem::exists(partial); ++tries) {
                Sleep(10); // polled: the first attempt's partial file says it runs
            }
        } else {
            const PackageDownload first = DownloadPackage(slow, options);
            EXPECT_EQ(first.Code, DownloadCode::Stopped) << NameOf(first.Code);
            EXPECT_LT(std::filesystem::file_size(partial), offer.Size) << "stopped before the end";
            EXPECT_GE(std::filesystem::file_size(partial) * 2, offer.Size) << "kept at half";
        }
        options = DownloadOptions{folder, 2000, {}, {}};
    }
    if (row.Before == First::PartialOfAnotherOffer) {
        // An earlier offer's file, as long as this one's and under the same name.
        std::string other = *ReadBytes(Unsigned);
        other.resize(offer.Size, 'x');
        WriteBytes(partial, other);
        const std::wstring record = Sha256OfFile(Unsigned) + L" " +
                                    std::to_wstring(std::filesystem::file_size(Unsigned)) +
                                    L"\n\"e\"";
        WriteBytes(partial + L".validator",
                   std::string(reinterpret_cast<const char*>(record.data()), record.size() * 2));
    }
    if (row.Before == First::OtherBytesOfItsSize) {
        WriteBytes(final, std::string(offer.Size, 'x'));
    }
    std::thread stopper;
    if (row.Before == First::StopOnceAsked) {
        options.Stop = stop.get_token();
        stopper = std::thread([&] {
            for (int tries = 0; tries < 3000 && !std::filesystem::exists(served + L".asked");
                 ++tries) {
                Sleep(10); // polled: the fault server marks the request it holds
            }
            stop.request_stop();
        });
    }
    if (row.Tune != nullptr) {
        row.Tune(options);
    }
    if (row.Before == First::StoppedAtHalfThenChanged) {
        ASSERT_TRUE(CopyFileW(Unsigned.c_str(), served.c_str(), FALSE));
        offer.Size = std::filesystem::file_size(Unsigned);
        offer.Sha256 = Sha256OfFile(Unsigned);
        offer.PublisherKeys.clear();
    }
    if (row.Edit != nullptr) {
        row.Edit(offer);
    }
    PackageDownload download;
    try {
        download = DownloadPackage(offer, options);
    } catch (const std::runtime_error&) {
        download.Code = DownloadCode::Stopped, download.Detail = L"thrown";
        download.RetryMayHelp = true;
    }
    if (stopper.joinable()) {
        stopper.join();
    }
    stop.request_stop(); // from this thread, while the first runs on its own
    if (running.joinable()) {
        running.join();
        EXPECT_EQ(first.Code, DownloadCode::Stopped) << NameOf(first.Code);
    }
    EXPECT_EQ(download.Code, row.Code) << NameOf(download.Code) << " " << download.Detail;
    // Numbers depend on the fixture's signature; the rows name them in words.
    const std::wstring size = std::to_wstring(offer.Size), half = std::to_wstring(offer.Size / 2);
    std::wstring detail = row.Detail;
    for (const auto& [words, numbers] :
         {std::pair<std::wstring, std::wstring>{L"1 byte more than the offer",
                                                std::to_wstring(offer.Size + 1) +
                                                    L" bytes, not the offer's " + size},
          {L"at half within", L"at " + half + L" bytes within"},
          {L"ended at half", L"ended at " + half + L" of " + size}}) {
        if (detail.find(words) != std::wstring::npos) {
            detail.replace(detail.find(words), words.size(), numbers);
        }
    }
    EXPECT_TRUE(download.Detail.starts_with(detail)) << download.Detail;
    const std::set<DownloadCode> retried = {DownloadCode::NetworkFailed, DownloadCode::Stalled,
                                            DownloadCode::Stopped,
                                            DownloadCode::AlreadyDownloading};
    EXPECT_EQ(download.RetryMayHelp, retried.contains(row.Code) && !server.starts_with(L"untr"));
    const bool handed = row.Code == DownloadCode::Downloaded;
    EXPECT_EQ(download.Order.PackagePath, handed ? final : L"");
    EXPECT_TRUE(ReadBytes(final) == (handed ? ReadBytes(served) : std::nullopt)) << "handed over";
    EXPECT_EQ(std::filesystem::exists(partial), row.Kept || row.Before == First::StillRunning);
    if (row.Kept && server.starts_with(L"faults")) {
        EXPECT_EQ(std::filesystem::file_size(partial), offer.Size / 2);
    }
    if ((row.Before == First::None || row.Before == First::OtherBytesOfItsSize) && handed) {
        // Whole and right on disk: handed over again without a request.
        EXPECT_EQ(DownloadPackage(offer, options).Order.PackagePath, final);
        EXPECT_EQ(LoggedFor(name).size(), 1u);
    }
    if (row.Before == First::StoppedAtHalf && server.starts_with(L"web")) {
        // The second request asked for the rest and was sent only that.
        const std::vector<std::string> log = LoggedFor(name);
        ASSERT_EQ(log.size(), 2u);
        ASSERT_NE(log[1].find(" 206 range=bytes="), std::string::npos) << log[1];
        const std::uint64_t from = std::stoull(log[1].substr(log[1].find("bytes=") + 6));
        EXPECT_GE(from * 2, offer.Size) << log[1];
        EXPECT_EQ(std::stoull(log[1].substr(log[1].find("sent=") + 5)), offer.Size - from);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Download, testing::ValuesIn(Rows),
                         [](const auto& info) { return std::string(info.param.Situation); });

// Fills drive T: (a disk of 32 MB that the test command mounts) until no more
// than `leftMegabytes` are free.
void FillSmallDisk(const std::wstring& filler, std::uint64_t leftMegabytes) {
    const UniqueHandle file =
        OwnHandle(CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    const std::string chunk(1 << 20, '\0');
    ULARGE_INTEGER free = {};
    for (DWORD written = 1; written > 0 && GetDiskFreeSpaceExW(L"T:\\", &free, nullptr, nullptr) &&
                            free.QuadPart > (leftMegabytes << 20);) {
        WriteFile(file.get(), chunk.data(), 1 << 20, &written, nullptr);
    }
}

// On a disk that is too small nothing is written; on one that another
// program fills halfway, the download fails as a file failure, the partial kept.
TEST(DownloadOnASmallDisk, NeedsRoomFirstAndKeepsThePartialWhenTheDiskFills) {
    const std::wstring name = L"small-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring folder = L"T:\\" + name, filler = folder + L".filler";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << "no drive T: from the test command";
    ASSERT_TRUE(
        CopyFileW(Signed.c_str(), (Environment(L"TAVO_TEST_WWW") + L"\\" + name).c_str(), FALSE));
    const std::wstring partial = folder + L"\\tavoPDF-2.0.msi.partial";
    PackageOffer offer = {Environment(L"TAVO_TEST_WEB") + L"/" + name,
                          std::filesystem::file_size(Signed),
                          Sha256OfFile(Signed),
                          PackageFormat::Msi,
                          L"2.0",
                          {}};
    FillSmallDisk(filler, 8);
    PackageDownload download = DownloadPackage(offer, {folder, 2000, {}, {}});
    EXPECT_EQ(download.Code, DownloadCode::NotEnoughSpace) << download.Detail;
    EXPECT_TRUE(download.Detail.starts_with(L"download folder: ")) << download.Detail;
    EXPECT_FALSE(std::filesystem::exists(partial));
    DeleteFileW(filler.c_str());
    offer.Url = Environment(L"TAVO_TEST_WEB") + L"/slow/" + name;
    download = DownloadPackage(
        offer, {folder, 2000, [&](const DownloadProgress&) { FillSmallDisk(filler, 0); }, {}});
    EXPECT_EQ(download.Code, DownloadCode::FileFailed) << download.Detail;
    EXPECT_TRUE(std::filesystem::exists(partial));
    DeleteFileW(filler.c_str());
    std::filesystem::remove_all(folder);
}

// The feed check against the same servers: the published stable feed under a
// name of the row's own, and what the check answers.
struct FeedRow {
    const char* Situation;
    const wchar_t* Server;
    FeedCode Code;
    const wchar_t* Detail;
    DWORD RetryAfterSeconds = 0;
    DWORD StallLimitMs = 2000;
    size_t PaddedBy = 0; // blanks added to the feed, whose Content-Length nginx sends
};

void PrintTo(const FeedRow& row, std::ostream* out) {
    *out << row.Situation;
}

const FeedRow FeedRows[] = {
    {"Offered", L"web:/", FeedCode::Offered, L""},
    {"CutByTheNetwork", L"faults:/drop/", FeedCode::NetworkFailed,
     L"feed: the connection ended before the Content-Length"},
    {"ServerBusyForAMinute", L"faults:/busy/", FeedCode::NetworkFailed,
     L"feed: the server answers 503", 60},
    {"ServerSilentAfterTheRequest", L"faults:/silent/", FeedCode::NetworkFailed,
     L"feed: nothing within the stall limit"},
    {"StoppedWhileTheServerIsSilent", L"faults:/silent/", FeedCode::Stopped, L"", 0, 60000},
    {"StateFileHeldByAnotherCheck", L"web:/", FeedCode::Busy,
     L"state file: another check holds it"},
    {"ServerCertificateNotTrusted", L"untrusted:/", FeedCode::NetworkFailed,
     L"feed: Windows error 12157"},
    {"RedirectedInALoop", L"web:/loop/", FeedCode::Refused,
     L"feed: redirected to a URL that is not https://, or more than ten times (a loop)"},
    {"TooLargeWithItsContentLength", L"web:/", FeedCode::Refused, L"too large: more than 1 MiB", 0,
     2000, 2 << 20},
};

class Feed : public testing::TestWithParam<FeedRow> {};

TEST_P(Feed, AnswersAsTheRowSays) {
    const FeedRow& row = GetParam();
    const std::wstring folder = MakeWorkFolder(L"feed");
    const std::wstring name = std::filesystem::path(folder).filename().wstring() + L".json";
    const std::wstring www = Environment(L"TAVO_TEST_WWW") + L"\\";
    for (const wchar_t* end : {L"", L".sig"}) {
        ASSERT_TRUE(
            CopyFileW((www + L"stable.json" + end).c_str(), (www + name + end).c_str(), FALSE));
    }
    if (row.PaddedBy > 0) {
        WriteBytes(www + name, *ReadBytes(www + name) + std::string(row.PaddedBy, ' '));
    }
    const std::wstring server = row.Server;
    const std::wstring base = BaseOf(server);
    FeedCheck check = {base + server.substr(server.find(L':') + 1) + name,
                       L"stable",
                       L"1.0",
                       {KeyPin(L"feed-ec")},
                       {KeyPin(L"publisher")},
                       folder + L"\\state.json",
                       true,
                       row.StallLimitMs};
    std::stop_source stop;
    check.Stop = stop.get_token();
    std::thread stopper([&] {
        for (int tries = 0; row.Code == FeedCode::Stopped && tries < 3000 &&
                            !std::filesystem::exists(www + name + L".asked");
             ++tries) {
            Sleep(10); // polled: the fault server marks the request it holds
        }
        stop.request_stop();
    });
    if (row.Code != FeedCode::Stopped) {
        stopper.join();
        stop = std::stop_source(); // not stopped after all
        check.Stop = stop.get_token();
    }
    const std::wstring lockPath = check.StateFile + L".lock";
    const UniqueHandle lock =
        OwnHandle(row.Code == FeedCode::Busy ? CreateFileW(lockPath.c_str(), GENERIC_WRITE, 0,
                                                           nullptr, CREATE_ALWAYS, 0, nullptr)
                                             : INVALID_HANDLE_VALUE);
    const FeedAnswer answer = CheckForUpdate(check);
    if (stopper.joinable()) {
        stopper.join();
    }
    EXPECT_EQ(answer.Code, row.Code) << NameOf(answer.Code) << " " << answer.Detail;
    EXPECT_EQ(answer.Detail, row.Code == FeedCode::Offered ? L"" : row.Detail);
    EXPECT_EQ(answer.RetryAfterSeconds, row.RetryAfterSeconds);
    EXPECT_EQ(answer.RetryMayHelp, (row.Code == FeedCode::NetworkFailed && server[0] != L'u') ||
                                       row.Code == FeedCode::Busy);
}

INSTANTIATE_TEST_SUITE_P(Rows, Feed, testing::ValuesIn(FeedRows),
                         [](const auto& info) { return std::string(info.param.Situation); });

} // namespace
