// The download against a real web server: nginx over HTTPS for localhost
// (and its slow /slow/ and redirecting /to-http/ locations), and the faults
// nginx does not make on purpose from the fault server beside it. Each row
// serves a fixture package under a name of its own and downloads it into a
// folder of its own; it checks the result, the bytes handed over or kept,
// and what nginx's access log says was sent.

#include "harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

using namespace tavo;

namespace {

std::wstring Environment(const wchar_t* name) {
    std::wstring value(4096, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), 4096));
    return value;
}

const std::wstring Packages = FixturesFolder() + L"\\packages\\";
const std::wstring Signed = Packages + L"signed\\editor-2.0-3.msi"; // the publisher's
const std::wstring Unsigned = Packages + L"editor-2.0-1.msi";       // and one of another size

enum class First { None, StoppedAtHalf, StoppedAtHalfThenChanged, StillRunning };

struct Row {
    const char* Situation;
    const wchar_t* Server; // the URL's start: a location of nginx's, or a fault
    First Before = First::None;
    void (*Edit)(PackageOffer&) = nullptr;
    DownloadCode Code = DownloadCode::Downloaded;
    const wchar_t* Detail = L"";
    bool Kept = false; // an unfinished file stays for the next attempt
};

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
};

class Download : public testing::TestWithParam<Row> {};

// The lines nginx logged for one file, in order.
std::vector<std::string> LoggedFor(const std::wstring& name) {
    std::vector<std::string> lines;
    std::istringstream log(ReadBytes(Environment(L"TAVO_TEST_WEB_LOG")).value_or(""));
    const std::string wanted(name.begin(), name.end());
    for (std::string line; std::getline(log, line);) {
        if (line.find(wanted + " ") != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST_P(Download, EndsAsTheRowSays) {
    const Row& row = GetParam();
    const std::wstring folder = MakeWorkFolder(L"download");
    const std::wstring name = std::filesystem::path(folder).filename().wstring() + L".msi";
    const std::wstring served = Environment(L"TAVO_TEST_WWW") + L"\\" + name;
    ASSERT_TRUE(CopyFileW(Signed.c_str(), served.c_str(), FALSE)) << "no web servers";
    const std::wstring server = row.Server;
    const size_t colon = server.find(L':');
    const std::wstring base =
        server.starts_with(L"http:")
            ? L"http://localhost"
            : Environment(server.starts_with(L"web") ? L"TAVO_TEST_WEB" : L"TAVO_TEST_FAULTS");
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
    if (row.Before != First::None) {
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
    if (row.Before == First::StoppedAtHalfThenChanged) {
        ASSERT_TRUE(CopyFileW(Unsigned.c_str(), served.c_str(), FALSE));
        offer.Size = std::filesystem::file_size(Unsigned);
        offer.Sha256 = Sha256OfFile(Unsigned);
        offer.PublisherKeys.clear();
    }
    if (row.Edit != nullptr) {
        row.Edit(offer);
    }
    const PackageDownload download = DownloadPackage(offer, options);
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
    const bool handed = row.Code == DownloadCode::Downloaded;
    EXPECT_EQ(download.Order.PackagePath, handed ? final : L"");
    EXPECT_TRUE(ReadBytes(final) == (handed ? ReadBytes(served) : std::nullopt)) << "handed over";
    EXPECT_EQ(std::filesystem::exists(partial), row.Kept || row.Before == First::StillRunning);
    if (row.Kept) {
        EXPECT_EQ(std::filesystem::file_size(partial), offer.Size / 2);
    }
    if (row.Before == First::None && handed) {
        // Whole and right on disk: handed over again without a request.
        EXPECT_EQ(DownloadPackage(offer, options).Order.PackagePath, final);
        EXPECT_EQ(LoggedFor(name).size(), 1u);
    }
    if (row.Before == First::StoppedAtHalf) {
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

} // namespace
