// A package built from what the machine has, against nginx: an editor of
// several files installed at 1.0 (and, once updated, its 1.0 package kept in
// the updates folder) downloads a next release with one change. The release
// is published as the release tool publishes it, its block index and
// compressed copy beside it; each row checks the bytes handed over, the
// result's words and what nginx's access log says was sent.

#include "base/handle_owner.h"
#include "harness.h"
#include "release/delta_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace tavo;

namespace {

enum class Twist {
    None,
    TamperedIndex,      // changed after the feed named its SHA-256
    PiecesMissing,      // the compressed copy not uploaded
    BaseFileChanged,    // an installed file changed on disk since its release
    RangeIgnored,       // a server that answers every Range with the whole file
    IndexOfAnother,     // the publisher indexed the old package under the new one's name
    StoppedThenResumed, // a first attempt stopped halfway through the fetch
    NoIndex,            // an older feed: the whole package as before
    DefaultFolder,      // no installed folder given: this program's own, which holds 1.0
};

struct Row {
    const char* Situation;
    const wchar_t* Kind;   // msi or exe
    const wchar_t* Change; // the release's tree: same, grown, added, rebuild
    bool Kept;             // the 1.0 package kept from the last update
    unsigned Share;        // at most this per cent of the package sent, all files counted
    const wchar_t* Detail; // how the result's detail starts
    Twist Twist = Twist::None;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.Situation;
}

constexpr const wchar_t* Built = L"built from what the machine has, fetching ";
constexpr const wchar_t* Whole = L"the whole package, as ";
// An MSI compresses each file: its installed files hold none of its blocks.
constexpr const wchar_t* Half = L"the whole package, as building it would fetch ";

const Row Rows[] = {
    {"ExeSameSizeFromInstalledFiles", L"exe", L"same", false, 5, Built},
    {"ExeGrownFromInstalledFiles", L"exe", L"grown", false, 5, Built},
    {"ExeFileAddedFromInstalledFiles", L"exe", L"added", false, 5, Built},
    {"ExeRebuiltProgramFromInstalledFiles", L"exe", L"rebuild", false, 5, Built},
    {"ExeSameSizeFromKeptPackage", L"exe", L"same", true, 4, Built},
    {"ExeGrownFromKeptPackage", L"exe", L"grown", true, 4, Built},
    {"ExeFileAddedFromKeptPackage", L"exe", L"added", true, 4, Built},
    {"ExeRebuiltProgramFromKeptPackage", L"exe", L"rebuild", true, 4, Built},
    {"MsiSameSizeFromKeptPackage", L"msi", L"same", true, 5, Built},
    {"MsiGrownFromKeptPackage", L"msi", L"grown", true, 15, Built},
    {"MsiFileAddedFromKeptPackage", L"msi", L"added", true, 8, Built},
    {"MsiRebuiltProgramFromKeptPackage", L"msi", L"rebuild", true, 5, Built},
    {"MsiSameSizeWithoutKeptPackageIsFetchedWhole", L"msi", L"same", false, 102, Half},
    {"MsiGrownWithoutKeptPackageIsFetchedWhole", L"msi", L"grown", false, 102, Half},
    {"MsiFileAddedWithoutKeptPackageIsFetchedWhole", L"msi", L"added", false, 102, Half},
    {"MsiRebuiltWithoutKeptPackageIsFetchedWhole", L"msi", L"rebuild", false, 102, Half},
    {"TamperedIndexFallsBackToTheWholePackage", L"exe", L"same", false, 103,
     L"the whole package, as block index: its SHA-256 is not the feed's", Twist::TamperedIndex},
    {"MissingPiecesFallBackToTheWholePackage", L"exe", L"same", false, 103,
     L"the whole package, as https://", Twist::PiecesMissing},
    {"ChangedInstalledFileIsFetched", L"exe", L"same", false, 25, Built, Twist::BaseFileChanged},
    {"ServerIgnoringRangeFallsBackToTheWholePackage", L"exe", L"same", false, 0,
     L"the whole package, as https://", Twist::RangeIgnored},
    {"IndexOfAnotherPackageFailsTheFinalCheckThenWhole", L"msi", L"same", true, 102,
     L"the whole package, as the built package: SHA-256: the file's is ", Twist::IndexOfAnother},
    {"StoppedBuildGoesOnWhereItStopped", L"exe", L"grown", false, 5, Built,
     Twist::StoppedThenResumed},
    {"FeedWithoutIndexFetchesTheWholePackage", L"exe", L"same", false, 101, L"", Twist::NoIndex},
    {"DefaultInstalledFolderIsThisProgramsOwn", L"exe", L"grown", false, 5, Built,
     Twist::DefaultFolder},
};

class Delta : public testing::TestWithParam<Row> {};

std::uint64_t SentFor(const std::wstring& name, bool& wholePackage) {
    std::uint64_t sent = 0;
    const std::string package(name.begin(), name.end());
    for (const std::string& line : LoggedFor(name)) {
        sent += std::stoull(line.substr(line.find("sent=") + 5));
        wholePackage = wholePackage || line.starts_with("/" + package + " 200");
    }
    return sent;
}

TEST_P(Delta, BuildsTheReleaseFromWhatTheMachineHas) {
    const Row& row = GetParam();
    const std::wstring folder = MakeWorkFolder(L"delta");
    const std::wstring fixtures = FixturesFolder() + L"\\delta\\", kind = row.Kind;
    const std::wstring updates = folder + L"\\Updates", installed = folder + L"\\Tavo PDF";
    const auto copy = std::filesystem::copy_options::recursive;
    std::filesystem::create_directories(updates + L"\\base");
    std::filesystem::copy(fixtures + L"1.0", installed, copy);
    if (row.Kept) {
        std::filesystem::copy(fixtures + L"1.0." + kind, updates + L"\\base\\tavoPDF-1.0." + kind);
    }
    // Published as the release tool publishes it.
    const std::wstring name = std::filesystem::path(folder).filename().wstring() + L"." + kind;
    const std::wstring served = Environment(L"TAVO_TEST_WWW") + L"\\" + name;
    const std::wstring package = fixtures + row.Change + L"." + kind;
    ASSERT_TRUE(CopyFileW(package.c_str(), served.c_str(), FALSE)) << "no web servers";
    PublishedFile blocks, pieces;
    if (row.Twist == Twist::IndexOfAnother) {
        CopyFileW((fixtures + L"1.0." + kind).c_str(), served.c_str(), FALSE);
    }
    ASSERT_EQ(WriteDeltaFiles(served, blocks, pieces), L"");
    if (row.Twist == Twist::IndexOfAnother) {
        // The old package's blocks under the new package's size and SHA-256.
        std::string index = *ReadBytes(served + L".blocks");
        const std::wstring sha256 = Sha256OfFile(package);
        for (size_t byte = 0; byte < 32; ++byte) {
            index[24 + byte] =
                static_cast<char>(std::stoi(sha256.substr(byte * 2, 2), nullptr, 16));
        }
        WriteBytes(served + L".blocks", index);
        blocks.Sha256 = Sha256OfFile(served + L".blocks");
        CopyFileW(package.c_str(), served.c_str(), FALSE);
    }
    const std::wstring web =
        Environment(row.Twist == Twist::RangeIgnored ? L"TAVO_TEST_FAULTS" : L"TAVO_TEST_WEB") +
        (row.Twist == Twist::RangeIgnored ? L"/whole/" : L"/");
    blocks.Url = web + name + L".blocks";
    pieces.Url = pieces.Size != 0 ? web + name + L".gz" : L"";
    PackageOffer offer = {web + name,
                          std::filesystem::file_size(package),
                          Sha256OfFile(package),
                          kind == L"msi" ? PackageFormat::Msi : PackageFormat::Exe,
                          L"1.1",
                          {},
                          blocks,
                          pieces};
    if (row.Twist == Twist::TamperedIndex) {
        std::string index = *ReadBytes(served + L".blocks");
        index[index.size() - 1] ^= 1;
        WriteBytes(served + L".blocks", index);
    }
    if (row.Twist == Twist::PiecesMissing) {
        DeleteFileW((served + L".gz").c_str());
    }
    if (row.Twist == Twist::BaseFileChanged) {
        std::string viewer = *ReadBytes(installed + L"\\viewer.dll");
        std::fill(viewer.begin() + 100000, viewer.begin() + 200000, 'x');
        WriteBytes(installed + L"\\viewer.dll", viewer);
    }
    if (row.Twist == Twist::NoIndex) {
        offer.Blocks = offer.Pieces = {};
    }
    // Held as a running editor holds its files: nobody else may write them.
    std::vector<UniqueHandle> held;
    for (const auto& file : std::filesystem::directory_iterator(installed)) {
        held.push_back(OwnHandle(CreateFileW(file.path().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                             nullptr, OPEN_EXISTING, 0, nullptr)));
    }
    DownloadOptions options{
        updates, 5000, {}, {}, row.Twist == Twist::DefaultFolder ? L"" : installed};
    std::uint64_t firstPlan = offer.Size;
    if (row.Twist == Twist::StoppedThenResumed) {
        std::stop_source stop;
        options.Stop = stop.get_token();
        options.OnProgress = [&stop, &firstPlan](const DownloadProgress& progress) {
            firstPlan = progress.Total;
            if (progress.Received * 2 > progress.Total) {
                stop.request_stop();
            }
        };
        // From nginx's slow location, so that the stop comes mid-fetch.
        PackageOffer slow = offer;
        for (std::wstring* url : {&slow.Url, &slow.Blocks.Url, &slow.Pieces.Url}) {
            url->insert(web.size(), L"slow/");
        }
        EXPECT_EQ(DownloadPackage(slow, options).Code, DownloadCode::Stopped);
        options = DownloadOptions{updates, 5000, {}, {}, installed};
    }
    std::vector<DownloadProgress> reports;
    options.OnProgress = [&reports](const DownloadProgress& progress) {
        reports.push_back(progress);
    };
    const PackageDownload download = DownloadPackage(offer, options);
    ASSERT_EQ(download.Code, DownloadCode::Downloaded)
        << NameOf(download.Code) << " " << download.Detail;
    EXPECT_TRUE(download.Detail.starts_with(row.Detail)) << download.Detail;
    EXPECT_TRUE(ReadBytes(download.Order.PackagePath) == ReadBytes(package)) << "handed over";
    EXPECT_FALSE(std::filesystem::exists(download.Order.PackagePath + L".partial"));
    // What nginx sent for the package, its index and its copy together.
    bool wholePackage = false;
    const std::uint64_t sent = SentFor(name, wholePackage);
    EXPECT_LE(sent, offer.Size * row.Share / 100) << "sent " << sent << " of " << offer.Size;
    EXPECT_EQ(wholePackage,
              row.Twist != Twist::RangeIgnored &&
                  (std::wstring(row.Detail).starts_with(Whole) || row.Twist == Twist::NoIndex));
    if (std::wstring(row.Detail) == Built) {
        // Progress counts the bytes to fetch, up to all of them; after a stop
        // at half, only what the first attempt had not placed (and the index).
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back().Received, reports.back().Total);
        EXPECT_LT(reports.back().Total, std::min(offer.Size / 2, firstPlan * 8 / 10 + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Delta, testing::ValuesIn(Rows),
                         [](const auto& info) { return std::string(info.param.Situation); });

} // namespace
