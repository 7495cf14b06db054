// The decisions made in process that the end-to-end rows cannot show or that
// Wine cannot produce: the command-line check at its edges, the editor's
// library naming a broken rule, guarding its commit and reading outcomes back,
// version texts and comparisons, the MSI parameters, the scan's verdict on one
// process (one that cannot be inspected included), a declined elevation prompt
// and a system directory that does not fit.

#include "app/update_request.h"
#include "base/paths.h"
#include "editor/download/download_decisions.h"
#include "editor/download/https_get.h"
#include "editor/feed/feed_decision.h"
#include "editor/feed/feed_document.h"
#include "editor/handover/helper_launch.h"
#include "editor/updater/stock_windows.h"
#include "editor/updater/update_policy.h"
#include "harness.h"
#include "handoff/suite_scan.h"
#include "install/installer_command_line.h"
#include "install/installer_run.h"
#include "release/feed_tool.h"
#include "release/release_check.h"
#include "tavo/editor_updater.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

using namespace tavo;

namespace {

using tavo::PackageFormat; // not the helper's own, which app/update_request.h names

TEST(UpdateRequestCheck, NamesTheFirstRuleEachArgumentBreaks) {
    using R = RequestRule;
    const std::wstring prefix = HandoffNamePrefix;
    // An argument's index, the rule its values break (none: the check
    // throws), and the values. Index 0 changes nothing; index 9 passes only
    // eight elements.
    const std::tuple<size_t, std::optional<R>, std::vector<std::wstring>> cases[] = {
        {9, R::EightArguments, {L""}},
        {1, R::Met, {L"  \t4242", L"-1", L"4294967295"}},
        {1, R::ProcessIdAlone, {L"4242 ", L"12ab"}},
        {1, R::ProcessIdNotZero, {L"0"}},
        {1, {}, {L"4294967296", L""}},
        {2, R::Met, {prefix, prefix + std::wstring(80, L'x')}},
        {2,
         R::HandoffName,
         {prefix + std::wstring(81, L'x'), L"Local\\TavoPDFUpdate", L"x" + prefix,
          L"local\\tavopdfupdate-1"}},
        {3, R::Met, {L"\\\\server\\share\\u.msi", L"//?/C:/u.msi", L"\\??\\C:\\u.msi", L"/\?\?/"}},
        {3,
         R::PackagePathAbsolute,
         {L"C:update.msi", L"\\update.msi", L"update.msi", L"1:\\u.msi", L"\\\\\\server\\u.msi",
          L"\\??\\\\u.msi"}},
        {5, R::EditorPathAbsolute, {L"tavoPDFEditor.exe"}},
        {5, R::EditorFileName, {L"C:\\T\\NorvexViewer.exe", L"C:\\T\\tavoPDFEditor.exe.bak"}},
        {7, R::PackageKind, {L"msi ", L"MSI"}},
        {8, R::StatusFileAbsolute, {L"status.txt"}}};
    const std::wstring handoff = prefix + L"3f2a";
    const std::wstring checksum(64, L'0');
    const wchar_t* const valid[] = {
        L"helper.exe", L"4242",          handoff.c_str(),
        L"C:\\u.msi",  checksum.c_str(), L"C:\\Tavo PDF\\tavoPDFEditor.exe",
        L"2.0",        L"msi",           L"C:\\s.txt"};
    for (const auto& [index, rule, values] : cases) {
        for (const std::wstring& value : values) {
            std::vector<const wchar_t*> arguments(std::begin(valid), std::end(valid));
            arguments[index % 9] = index % 9 == 0 ? valid[0] : value.c_str();
            std::optional<R> seen;
            try {
                UpdateRequest request;
                seen = ParseUpdateRequest(index == 9 ? 8 : 9, arguments.data(), request);
            } catch (const std::logic_error&) { // std::stoul's invalid_argument and out_of_range
            }
            EXPECT_EQ(seen, rule) << "argument " << index << ": " << testing::PrintToString(value);
        }
    }
}

// A signed fixture package, with the publisher's key pinned.
void Pinned(UpdateOrder& order, const std::wstring& package) {
    order.PackagePath = FixturesFolder() + L"\\packages\\signed\\" + package;
    order.PublisherKeys = {KeyPin(L"publisher")};
}

// An order the library takes: it gets as far as the start of C:\\h.exe,
// which is not there.
UpdateOrder GoodOrder() {
    return {L"C:\\h.exe",
            L"C:\\u.msi",
            std::wstring(64, L'A'),
            PackageFormat::Exe,
            L"2.0",
            L"C:\\s.txt",
            {L"--open"},
            4242,
            L"C:\\T\\tavoPDFEditor.exe",
            {}};
}

// The editor's side names the argument and the rule, and starts nothing.
TEST(UpdateOrderCheck, NamesTheArgumentAndTheRuleItBreaks) {
    using O = UpdateOrder;
    const std::pair<void (*)(O&), std::wstring> cases[] = {
        {[](O&) {}, L"Windows error 2"},
        {[](O& o) { o.HelperPath = L"helper.exe"; }, L"helper: not an absolute path"},
        // Unset, the editor is this process: helper_tests.exe.
        {[](O& o) { o.EditorPath.reset(), o.EditorProcessId.reset(); },
         L"editor executable: not named tavoPDFEditor.exe"},
        {[](O& o) { o.EditorProcessId.reset(); },
         L"editor executable: the file does not exist (leave EditorPath unset to name this "
         L"process)"},
        {[](O& o) {
             o.EditorProcessId.reset();
             o.EditorPath = FixturesFolder() + L"\\editor-2.0\\tavoPDFEditor.exe";
         },
         L"editor executable: not this process's (give the editor's process id with it)"},
        {[](O& o) { o.EditorPath.reset(), o.EditorProcessId = 4242; },
         L"editor executable: not given with the editor process id"},
        {[](O& o) { o.PackageSha256[9] = L'g'; }, L"SHA-256: not 64 hexadecimal digits"},
        {[](O& o) { o.TargetVersion = L"2"; },
         L"target version: not 2 to 4 numbers of at most 65535"},
        {[](O& o) { o.EditorArguments[0] += L'\0'; }, L"editor argument 1: holds a NUL character"},
        {[](O& o) { o.StatusFilePath = L"C:\\none\\s.txt"; },
         L"status file: its folder does not exist"},
        {[](O& o) { o.StatusFilePath = o.PackagePath = HelperExecutablePath(); },
         L"status file: names the package"},
        {[](O& o) {
             o.EditorPath = ExecutableFolder() + L"\\tavoPDFEditor.exe";
             o.HelperPath = FixturesFolder() + L"\\h.exe";
         },
         L"helper: inside the install folder"},
        // Of an editor at a drive's root, only the files right in the root are inside.
        {[](O& o) {
             o.EditorPath = L"C:\\tavoPDFEditor.exe", o.HelperPath = L"C:\\windows\\h.exe";
         },
         L"Windows error 2"},
        // An earlier attempt's text that cannot be removed would be read as this one's.
        {[](O& o) {
             WriteBytes(o.StatusFilePath = MakeWorkFolder(L"held") + L"\\s", "Installed");
             CreateFileW(o.StatusFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
         },
         L"Windows error 32"},
        {[](O& o) {
             o.PublisherKeys = {KeyPin(L"publisher"), L"x"};
         },
         L"publisher key 2: not 64 hexadecimal digits"},
        {[](O& o) { Pinned(o, L"editor-2.0.exe"); }, L"Windows error 2"},
        {[](O& o) { Pinned(o, L"..\\editor-2.0.exe"); }, L"package: not signed"},
        {[](O& o) { Pinned(o, L"editor-2.0-unrelated.exe"); },
         L"package: signed by \"Unrelated Tools Ltd\" with key " + KeyPin(L"unrelated") +
             L", which is not one of the publisher's keys"},
        {[](O& o) {
             Pinned(o, L"editor-2.0-unrelated.exe"), o.PublisherKeys = {KeyPin(L"unrelated")};
         },
         L"package: signed, but its signer's chain is not trusted for code signing"},
        {[](O& o) {
             Pinned(o, L"editor-2.0.exe");
             std::string bytes = *ReadBytes(o.PackagePath);
             bytes[bytes.size() / 2] ^= 1;
             WriteBytes(o.PackagePath = MakeWorkFolder(L"tampered") + L"\\s.exe", bytes);
         },
         L"package: its signature does not match its contents"},
    };
    for (const auto& [edit, refusal] : cases) {
        O order = GoodOrder();
        edit(order);
        UpdateHandoff handoff;
        const HelperStart start = StartUpdateHelper(order, handoff);
        EXPECT_EQ(start.Refusal.empty() ? L"Windows error " + std::to_wstring(start.WindowsError)
                                        : start.Refusal,
                  refusal);
        EXPECT_FALSE(start.Started || handoff.Helper || (!start.Refusal.empty() && handoff.Ready));
    }
}

// The editor's decision as the library guards it: a commit only to a helper
// that said ready and still runs, and a cancel, one before the start too,
// stands. An event plays the helper: set, it has ended.
TEST(EditorDecision, CommitsOnlyToAReadyRunningHelperAndACancelStands) {
    using C = CommitResult;
    // The helper said ready, it runs, the user cancelled before the start.
    const std::tuple<bool, bool, bool, C> cases[] = {{false, true, false, C::NotReady},
                                                     {true, true, false, C::Committed},
                                                     {true, false, false, C::HelperEnded},
                                                     {true, true, true, C::Cancelled}};
    for (const auto& [ready, running, cancelled, commit] : cases) {
        UpdateHandoff handoff;
        if (cancelled) {
            EXPECT_EQ(CancelUpdate(handoff), CancelResult::Cancelled);
            EXPECT_EQ(StartUpdateHelper(GoodOrder(), handoff).Refusal, L"handoff: cancelled");
        }
        CreateUpdateHandoff(handoff);
        handoff.Helper = OwnHandle(CreateEventW(nullptr, TRUE, !running, nullptr));
        if (ready) {
            SetEvent(handoff.Ready.get());
        }
        EXPECT_EQ(CommitUpdate(handoff), commit) << ready << running << cancelled;
    }
}

// Events of the next attempt's name that somebody else created first are not
// trusted. The name is this process's id, the time and a count: the next ten
// seconds of names are taken first.
TEST(EditorHandoff, RefusesEventsCreatedFirstBySomebodyElse) {
    UpdateHandoff first, second;
    CreateUpdateHandoff(first);
    const size_t count = first.Name.rfind(L'-'), time = first.Name.rfind(L'-', count - 1);
    const std::wstring next = L'-' + std::to_wstring(std::stoul(first.Name.substr(count + 1)) + 1);
    std::vector<UniqueHandle> taken;
    for (ULONGLONG now = GetTickCount64(), tick = now; tick < now + 10000; ++tick) {
        const std::wstring name = first.Name.substr(0, time + 1) + std::to_wstring(tick) + next;
        taken.push_back(OwnHandle(CreateEventW(nullptr, TRUE, TRUE, (name + L".ready").c_str())));
    }
    EXPECT_EQ(CreateUpdateHandoff(second), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

// Where the editor runs in a job: the helper leaves it where the job lets it,
// and never starts inside one that would end it with the editor. Wine reports
// no limits (all zero), so only a breakaway start can be shown end to end.
TEST(EditorJob, LetsTheHelperOutOrRefusesAJobThatWouldEndIt) {
    const std::pair<std::optional<DWORD>, JobStart> cases[] = {
        {JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK,
         JobStart::Plain},
        {JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE, JobStart::Refused},
        {JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK, JobStart::Breakaway},
        {std::nullopt, JobStart::Breakaway},
        {0, JobStart::BreakawayOrInside}};
    for (const auto& [flags, start] : cases) {
        EXPECT_EQ(ChooseJobStart(true, flags), start) << flags.value_or(~0u);
    }
}

// The fixed version block is read only when all 52 bytes of it are there and
// lie inside the resource and it has its signature. Copies of the 2.0
// editor: the block's length (at -4 from its key), the resource's (at -6) or
// the signature (at 34) changed.
TEST(FileVersion, IsReadFromAWholeFixedBlockInsideTheResource) {
    const std::string editor = *ReadBytes(FixturesFolder() + L"\\editor-2.0\\tavoPDFEditor.exe");
    const size_t at = editor.rfind(std::string(reinterpret_cast<const char*>(L"VS_VERSION"), 20));
    const std::tuple<int, unsigned short, const wchar_t*> cases[] = {
        {-4, 49, L""}, {-6, 92, L"2.0.0.0"}, {-6, 88, L""}, {34, 0x04BE, L""}};
    for (const auto& [offset, value, version] : cases) {
        const std::wstring path = MakeWorkFolder(L"version") + L"\\e.exe";
        WriteBytes(path, std::string(editor).replace(at + offset, 2,
                                                     reinterpret_cast<const char*>(&value), 2));
        EXPECT_EQ(ReadFileVersion(path), version) << offset << " " << value;
    }
}

// What the status file holds, read back against the helper's own outcomes:
// only its texts count, exactly as it writes them.
TEST(StatusFileOutcome, IsOneOfTheHelpersTextsOrSaysWhatItIs) {
    using K = OutcomeKind;
    const std::string failed = "Installation failed. Exit code: ";
    const std::string installed = "Installed successfully.";
    const std::pair<K, std::vector<std::string>> cases[] = {
        {K::Installed, {installed}},
        {K::InstalledRestartAdvised, {"Installed; Windows restart may also be required."}},
        {K::RefusedBeforeEditorExit,
         {"Update checksum failed.", "Cannot signal update readiness. Windows error: 0"}},
        {K::FailedAfterEditorExit, {failed + "4294967295"}},
        {K::InstalledRestartFailed,
         {"Installed successfully, but the editor could not be restarted."}},
        {K::UnexpectedError, {"Unexpected error while preparing the update."}},
        {K::NotAnOutcome,
         {"", installed + "\n", "\xEF\xBB\xBF" + installed, "installed successfully.",
          installed + std::string(99, ' '), failed, failed + "01", failed + "4294967296"}},
    };
    const std::wstring path = MakeWorkFolder(L"outcome") + L"\\status.txt";
    for (const auto& [kind, files] : cases) {
        for (const std::string& bytes : files) {
            WriteBytes(path, bytes);
            const UpdateOutcome outcome = ReadUpdateOutcome(path);
            EXPECT_EQ(outcome.Kind, kind) << testing::PrintToString(bytes);
            const bool known = kind != K::NotAnOutcome;
            EXPECT_EQ(outcome.Text, known ? std::wstring(bytes.begin(), bytes.end()) : L"");
        }
    }
    const UniqueHandle locked =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ReadUpdateOutcome(path).Kind, K::Unreadable) << "held without sharing";
    EXPECT_EQ(ReadUpdateOutcome(path + L".none").Kind, K::NothingWritten);
}

// Before a package ships: the helper's own rules, one line a check, and the
// feed's JSON line only for a package that passes (a text after "!" must not
// be there). A setup described otherwise is made from the signed one.
TEST(ReleaseCheck, TellsWhetherTheHelperWillInstallAPackage) {
    const std::wstring packages = FixturesFolder() + L"\\packages\\";
    const std::wstring key = KeyPin(L"publisher"), msi = packages + L"signed\\editor-2.0-3.msi";
    const std::wstring setup = MakeWorkFolder(L"release") + L"\\setup.exe";
    CopySetupDescribedInLowerCase(packages + L"signed\\editor-2.0.exe", setup);
    const std::wstring users = L"users get \"", trial = L"--trial-install";
    const std::wstring unopened = L"refused  package: it cannot be opened (Windows error 2)";
    const std::tuple<std::vector<std::wstring>, int, std::vector<std::wstring>> cases[] = {
        {{msi, L"msi", L"2.0", L"--publisher-key", key, trial, MakeWorkFolder(L"trial")},
         0,
         {L"\"sha256\":\"" + Sha256OfFile(msi) + L"\"", L"\"publisherKey\":\"" + key + L"\"}",
          L"ok       trial install", L"ok       libraries"}},
        {{packages + L"signed\\editor-2.0.exe", L"exe", L"2.0", L"--publisher-key", key},
         0,
         {L"\"sha256\":\"" + Sha256OfFile(packages + L"signed\\editor-2.0.exe") + L"\""}},
        {{packages + L"editor-2.0-4.msi", L"msi", L"2.0", L"--trial-install",
          MakeWorkFolder(L"trial")},
         1,
         {L"refused  trial install: the installed tavoPDFEditor.exe carries 1.0.0.0",
          users + L"The installed application version does not match the requested update.\" (exit "
                  L"code 6)"}},
        {{packages + L"editor-2.0-5.msi", L"msi", L"2.0", L"--installed-version", L"2.0.0.0"},
         1,
         {L"refused  install folder", L"refused  scope", L"refused  upgrade", L"!{",
          L"refused  installed version: the target is not newer than 2.0.0.0"}},
        {{packages + L"editor-2.0-9.msi", L"msi", L"2.0.0.1", L"--installed-version", L"2.0.0.0"},
         1,
         {L"refused  installed version: the target differs from 2.0.0.0 only in the fourth"}},
        {{packages + L"editor-2.0-6.msi", L"msi", L"2.0", trial, MakeWorkFolder(L"trial")},
         1,
         {L"refused  install folder: tavoPDFEditor.exe's component installs into directory "
          L"BINFOLDER",
          L"refused  trial install: nothing installed as"}},
        {{packages + L"editor-2.0-bin.exe", L"exe", L"2.0", trial, MakeWorkFolder(L"trial")},
         1,
         {L"refused  trial install: nothing installed as"}},
        {{packages + L"editor-2.0-7.msi", L"msi", L"2.0", trial, MakeWorkFolder(L"trial")},
         1,
         {L"ok       trial install",
          L"refused  libraries: the installed tavoPDFEditor.exe needs editor_update.dll, neither",
          users +
              L"Installed successfully, but the editor could not be restarted.\" (exit code 6)"}},
        {{packages + L"editor-2.0-8.msi", L"msi", L"2.0", trial, MakeWorkFolder(L"trial")},
         0,
         {L"ok       libraries", L"\"sha256\":", L"!publisherKey"}},
        // The README's samples as written: the editor, its DLL and the helper.
        {{packages + L"readme-sample.msi", L"msi", L"2.0", trial, MakeWorkFolder(L"trial")},
         0,
         {L"ok       trial install", L"ok       libraries"}},
        {{packages + L"readme-sample.exe", L"exe", L"2.0", trial, MakeWorkFolder(L"trial")},
         0,
         {L"ok       trial install", L"ok       libraries"}},
        {{packages + L"none.msi", L"msi", L"2.0"}, 2, {unopened, L"!identity", L"!{"}},
        {{packages + L"signed\\editor-2.0-unrelated.exe", L"exe", L"2.0", L"--publisher-key", key},
         1,
         {L"refused  signature", L"!{"}},
        {{setup, L"exe", L"2.0"},
         1,
         {L"refused  identity: FileDescription \"tavo PDF Setup\"",
          users + L"Unsupported installer or release version mismatch.\" (exit code 4)"}},
        {{packages + L"editor-2.0.exe", L"exe", L"2.0", L"--publisher-key", key},
         1,
         {L"the editor refuses to start the update: \"package: not signed\""}},
        {{packages + L"editor-2.0.exe", L"exe", L"2.0", L"--publisher-key"}, 2, {L"usage: "}},
    };
    for (const auto& [arguments, exitCode, texts] : cases) {
        std::wstring report;
        EXPECT_EQ(RunReleaseCheck(arguments, report), exitCode) << testing::PrintToString(report);
        for (const std::wstring& text : texts) {
            const bool absent = text.starts_with(L'!');
            EXPECT_EQ(report.find(text.substr(absent)) == std::wstring::npos, absent)
                << testing::PrintToString(text) << testing::PrintToString(report);
        }
    }
    // The feed: composed only of packages that pass (no file otherwise), and
    // checked once signed: its sequence above the last, not expired.
    const std::wstring feed = MakeWorkFolder(L"feed") + L"\\stable.json";
    const std::wstring feeds = FixturesFolder() + L"\\feeds\\";
    std::wstring report;
    EXPECT_EQ(ComposeFeed({feed, L"stable", L"3", L"2099-01-01T00:00:00Z", L"--publisher-key", key,
                           L"--release", packages + L"editor-2.0.exe", L"exe", L"2.0",
                           L"https://localhost/s.exe", L"1.0", L"100", L"normal", L"Notes."},
                          report),
              1);
    EXPECT_FALSE(std::filesystem::exists(feed)) << testing::PrintToString(report);
    // A package the trial install refuses (the editor needs a library it does
    // not ship), and a feed that cannot be written, keep the feed out.
    const std::vector<std::wstring> release = {L"--release",
                                               packages + L"editor-2.0-7.msi",
                                               L"msi",
                                               L"2.0",
                                               L"https://localhost/s.msi",
                                               L"1.0",
                                               L"100",
                                               L"normal",
                                               L"Notes."};
    const std::wstring nowhere = MakeWorkFolder(L"feed") + L"\\none\\stable.json";
    const std::pair<std::wstring, std::wstring> composed[] = {
        {feed, L"refused  libraries: the installed tavoPDFEditor.exe needs"},
        {nowhere, L"refused  feed: " + nowhere + L" cannot be written"}};
    for (const auto& [path, refusal] : composed) {
        std::vector<std::wstring> arguments = {
            path, L"stable", L"3", L"2099-01-01T00:00:00Z", L"--publisher-key", key};
        arguments.insert(arguments.end(), release.begin(), release.end());
        arguments[7] = path == feed ? arguments[7] : packages + L"signed\\editor-2.0-3.msi";
        report.clear();
        EXPECT_EQ(ComposeFeed(arguments, report), 1);
        EXPECT_NE(report.find(refusal), std::wstring::npos) << testing::PrintToString(report);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    // Checked against a sequence given, or the live feed's (the test command
    // published sequence 1 on nginx): each refusal says what to do.
    const std::wstring live = Environment(L"TAVO_TEST_WEB") + L"/stable.json";
    const std::wstring raise = L", compose and sign the feed again";
    const std::tuple<std::wstring, std::wstring, int, std::wstring> checks[] = {
        {L"good", L"5", 1, L"refused  sequence 5, not above 5: raise the sequence above 5" + raise},
        {L"expired", L"5", 1, L"refused  expires 2001-01-01T00:00:00Z"},
        {L"good", live, 0, L"ok       sequence 5, above 1"},
        {L"good", live + L".none", 1, L"answers 404; for a first release, use --above-sequence 0"}};
    for (const auto& [name, option, code, said] : checks) {
        const std::wstring path = feeds + name + L".json";
        report.clear();
        EXPECT_EQ(CheckFeed({path, path + L".sig", L"--feed-key", KeyPin(L"feed-rsa"),
                             L"--feed-key", KeyPin(L"feed-ec"),
                             option.size() > 2 ? L"--above-live" : L"--above-sequence", option},
                            report),
                  code);
        EXPECT_NE(report.find(said), std::wstring::npos) << testing::PrintToString(report);
    }
    // The published release's block index and compressed copy, against the
    // package (as published, then with the copy changed after composing).
    const std::wstring published = MakeWorkFolder(L"feed") + L"\\";
    for (const wchar_t* end : {L"stable.json", L"stable.json.sig", L"editor-2.0.exe",
                               L"editor-2.0.exe.blocks", L"editor-2.0.exe.gz"}) {
        CopyFileW((Environment(L"TAVO_TEST_WWW") + L"\\" + end).c_str(), (published + end).c_str(),
                  FALSE);
    }
    for (const bool changed : {false, true}) {
        std::string copy = *ReadBytes(published + L"editor-2.0.exe.gz");
        copy[copy.size() / 2] ^= changed ? 1 : 0;
        WriteBytes(published + L"editor-2.0.exe.gz", copy);
        report.clear();
        EXPECT_EQ(CheckFeed({published + L"stable.json", published + L"stable.json.sig",
                             L"--feed-key", KeyPin(L"feed-ec"), L"--above-sequence", L"0",
                             L"--package", published + L"editor-2.0.exe", L"2.0"},
                            report),
                  changed ? 1 : 0);
        EXPECT_NE(report.find(changed ? L"refused  release 2.0: " + published +
                                            L"editor-2.0.exe.gz: not the size and SHA-256"
                                      : L"ok       release 2.0: block index and copy against"),
                  std::wstring::npos)
            << testing::PrintToString(report);
    }
    // What a user of the last release fetches, before it ships.
    const std::wstring delta = FixturesFolder() + L"\\delta\\";
    for (const auto& [previous, said] :
         {std::pair{delta + L"1.0.msi", L"bytes, 2."}, {delta + L"1.0", L"the whole package"}}) {
        report.clear();
        EXPECT_EQ(MeasureDeltaShare({delta + L"same.msi", previous}, report), 0);
        EXPECT_NE(report.find(said), std::wstring::npos) << testing::PrintToString(report);
    }
}

// What an answer means for a download with `offset` bytes of 100 on disk, and
// whether the rest fits: what a server and a disk rarely do on demand.
TEST(DownloadDecisions, TakeOnlyTheRestOfTheOfferedFileAndRoomForIt) {
    using U = AnswerUse;
    const std::tuple<unsigned long, std::optional<std::uint64_t>, const wchar_t*, int, U> cases[] =
        {{200, 100, L"", 0, U::StartOver},
         {200, {}, L"", 40, U::StartOver},
         {200, 101, L"", 0, U::Refuse},
         {206, 60, L"bytes 40-99/100", 40, U::Append},
         {206, {}, L"bytes 40-99/100", 40, U::Append},
         {206, 60, L"bytes 41-99/100", 40, U::Refuse},
         {206, 60, L"bytes 40-99/101", 40, U::Refuse},
         {206, 59, L"bytes 40-98/100", 40, U::Refuse},
         {206, 60, L"bytes 40-99/100x", 40, U::Refuse},
         {404, {}, L"", 0, U::Refuse}};
    for (const auto& [status, length, range, offset, use] : cases) {
        EXPECT_EQ(PlanAnswer(status, length, range, offset, 100).Use, use) << status << range;
    }
    EXPECT_EQ(DescribeShortSpace(100ull << 20, 84ull << 20), L"");
    EXPECT_EQ(DescribeShortSpace((100ull << 20) - 1, 84ull << 20),
              L"download folder: 100 MB free, 100 MB needed");
}

// The feed check on fixture feeds signed at build time, each changing one
// thing: the offer's version, or the refusal's first words; never a crash.
// The install id is all zeros: its bucket for 2.0 is 20.
TEST(FeedCheck, OffersOnlyWhatAFreshSignedFeedOfThisChannelAllows) {
    using C = FeedCode;
    enum Tamper { None, NoSignature, ByteChanged, Oversized, OtherPins };
    const std::tuple<const wchar_t*, Tamper, const wchar_t*, std::uint64_t, bool, C, const wchar_t*>
        cases[] = {
            {L"good", None, L"1.0", 0, false, C::Offered, L"2.0"},
            {L"ec", None, L"1.0", 5, false, C::Offered, L"2.0"},
            {L"good", None, L"2.0", 0, false, C::UpToDate, L""},
            {L"good", NoSignature, L"1.0", 0, false, C::Refused, L"not signed"},
            {L"good", ByteChanged, L"1.0", 0, false, C::Refused, L"signature does not match"},
            {L"ec", ByteChanged, L"1.0", 0, false, C::Refused, L"signature does not match"},
            {L"other-key", None, L"1.0", 0, false, C::Refused, L"signed by a key not pinned ("},
            {L"expired", None, L"1.0", 0, false, C::Refused, L"expired at 2001-01-01T00:00:00Z"},
            {L"good", None, L"1.0", 9, false, C::Refused,
             L"older than a feed seen before (sequence 5, seen 9)"},
            {L"beta", None, L"1.0", 0, false, C::Refused,
             L"another product or channel: \"Tavo PDF\", \"beta\""},
            {L"product", None, L"1.0", 0, false, C::Refused,
             L"another product or channel: \"Other PDF\""},
            {L"minimum", None, L"1.4", 0, false, C::UpToDate, L""},
            {L"minimum", None, L"1.5", 0, false, C::Offered, L"2.0"},
            {L"critical", None, L"1.0", 0, false, C::Offered, L"2.0"},
            {L"rollout-0", None, L"1.0", 0, false, C::UpToDate, L""},
            {L"rollout-0", None, L"1.0", 0, true, C::Offered, L"2.0"},
            {L"good", Oversized, L"1.0", 0, false, C::Refused, L"too large"},
            {L"broken", None, L"1.0", 0, false, C::Refused, L"malformed at the document"},
            {L"wrong-type", None, L"1.0", 0, false, C::Refused, L"malformed at sequence"},
            {L"no-size", None, L"1.0", 0, false, C::Refused, L"malformed at releases[0].size"},
            {L"bad-blocks", None, L"1.0", 0, false, C::Refused, L"malformed at releases[0].blocks"},
            {L"bad-version", None, L"1.0", 0, false, C::Refused,
             L"malformed at releases[0].version"},
            {L"good", OtherPins, L"1.0", 0, false, C::Refused, L"release 2.0: signed by key "}};
    for (const auto& [name, tamper, running, seen, byHand, code, words] : cases) {
        const std::wstring path = FixturesFolder() + L"\\feeds\\" + name + L".json";
        std::string feed = *ReadBytes(path), signature = *ReadBytes(path + L".sig");
        signature = tamper == NoSignature ? "" : signature;
        feed[feed.size() / 2] ^= tamper == ByteChanged ? 1 : 0;
        feed += tamper == Oversized ? std::string(1 << 20, ' ') : "";
        const FeedCheck check = {L"https://localhost/f.json",
                                 L"stable",
                                 running,
                                 {KeyPin(L"feed-rsa"), KeyPin(L"feed-ec")},
                                 {KeyPin(tamper == OtherPins ? L"renewed" : L"publisher")},
                                 L"",
                                 byHand};
        UpdateState state = {std::wstring(32, L'0'), {{L"stable", seen}}};
        const FeedAnswer answer =
            JudgeFeed(feed, signature, check, state, ParseUtcTime(L"2026-12-08T00:00:00Z"));
        EXPECT_EQ(answer.Code, code) << name << " " << answer.Detail;
        EXPECT_TRUE((code == C::Offered ? answer.Offer.Version : answer.Detail).starts_with(words))
            << name << ": " << answer.Detail << answer.Offer.Version;
        EXPECT_EQ(state.Sequences[L"stable"], code == C::Refused && tamper != OtherPins ? seen : 5)
            << name;
    }
    // The bucket: the same for the same id and version, from the SHA-256 as documented.
    EXPECT_EQ(RolloutBucket(std::wstring(32, L'0'), L"2.0"), 20u);
    EXPECT_EQ(RolloutBucket(std::wstring(32, L'0'), L"2.1"), 89u);
    EXPECT_EQ(RolloutBucket(L"00000000000000000000000000000002", L"2.0"), 98u);
}

// A check that breaks a rule is refused before anything is fetched, in words:
// a running version that is no version would be "up to date" for ever.
TEST(FeedCheck, RefusesACheckThatBreaksARuleBeforeAnythingIsFetched) {
    using F = FeedCheck;
    const std::wstring notVersion = L"running version: not 2 to 4 numbers";
    const std::wstring notUrl = L"feed URL: not a URL WinHTTP can read";
    const std::pair<void (*)(F&), std::wstring> cases[] = {
        {[](F& c) { c.RunningVersion = L"1.0.0-beta"; }, notVersion},
        {[](F& c) { c.RunningVersion = L"v1.0"; }, notVersion},
        {[](F& c) { c.RunningVersion = L""; }, notVersion},
        {[](F& c) { c.RunningVersion = L"1.2.3.4.5"; }, notVersion},
        {[](F& c) { c.FeedKeys[0] += L" *stdin"; }, L"feed key 1: not 64 hexadecimal digits"},
        {[](F& c) { c.PublisherKeys = {L"a3:ce:75"}; },
         L"publisher key 1: not 64 hexadecimal digits"},
        {[](F& c) { c.FeedUrl = L"http://localhost/f.json"; }, L"feed URL: not https://"},
        {[](F& c) { c.FeedUrl = L"https://"; }, notUrl},
        {[](F& c) { c.FeedUrl = L"https://localhost:99999/f.json"; }, notUrl},
        {[](F& c) { c.StallLimitMs = 0; }, L"stall limit: not 1 to 600000 ms"},
        {[](F& c) { c.StallLimitMs = 600001; }, L"stall limit: not 1 to 600000 ms"}};
    for (const auto& [edit, detail] : cases) {
        F check = {L"https://localhost:1/f.json", L"stable", L"1.0",
                   {KeyPin(L"feed-rsa")},         {},        L""};
        edit(check);
        const FeedAnswer answer = CheckForUpdate(check);
        EXPECT_EQ(answer.Code, FeedCode::Refused);
        EXPECT_EQ(answer.Detail, detail);
    }
}

// Signed metadata means one thing to every reader: every field of its type
// and form, and no name twice in one object.
TEST(FeedDocument, RefusesANameTwiceAPlainHttpUrlAndARolloutAbove100) {
    const std::string release =
        R"({"version":"2.0","kind":"msi","url":"https://h/p.msi","size":9,"sha256":")" +
        std::string(64, 'a') + R"(","publisherKey":")" + std::string(64, 'b') +
        R"(","minimumVersion":"1.0","rolloutPercent":10,"critical":false,"notes":""})";
    const auto feed = [&](std::string from, std::string to, std::string extra = "") {
        std::string edited = release;
        edited.replace(edited.find(from), from.size(), to);
        return R"({"product":"Tavo PDF","channel":"stable","sequence":13,)" + extra +
               R"("expires":"2027-01-31T00:00:00Z","releases":[)" + edited + "]}";
    };
    const std::pair<std::string, std::wstring> cases[] = {
        {feed("", ""), L""},
        {feed("", "", R"("sequence":14,)"),
         L"malformed at the document: the name \"sequence\" given twice"},
        {feed(R"("size":9)", R"("size":9,"size":10)"),
         L"malformed at the document: the name \"size\" given twice"},
        {feed("https://h", "http://h"), L"malformed at releases[0].url"},
        {feed("https://h/", "https://:0/"), L"malformed at releases[0].url"},
        {feed(":10", ":101"), L"malformed at releases[0].rolloutPercent"}};
    for (const auto& [bytes, malformed] : cases) {
        FeedDocument document;
        EXPECT_EQ(ParseFeed(bytes, document), malformed) << bytes;
    }
}

// Whether a retry may help after a WinHTTP error: never for a certificate
// the machine does not accept, whichever code Windows or Wine gives it.
TEST(HttpsErrors, ACertificateErrorIsNoReasonToRetry) {
    for (const DWORD error : {12037, 12038, 12044, 12045, 12157, 12169, 12170, 12175, 12179}) {
        EXPECT_TRUE(IsCertificateError(error)) << error;
    }
    for (const DWORD error : {0, 12002, 12029, 12030, 12152, 10060}) {
        EXPECT_FALSE(IsCertificateError(error)) << error;
    }
}

// The state file: written whole or not at all, read while it is rewritten;
// one that cannot be read is reported and replaced by a new one.
TEST(FeedState, IsNeverHalfWrittenAndAnUnreadableOneIsReplaced) {
    const std::wstring path = MakeWorkFolder(L"state") + L"\\state.json";
    UpdateState written = {std::wstring(32, L'a'), {{L"stable", 1}}}, read;
    std::wstring problem;
    std::atomic<bool> writing = true;
    std::thread writer([&] {
        for (std::uint64_t sequence = 1; sequence < 300; ++sequence) {
            written.Sequences[L"stable"] = sequence;
            WriteUpdateState(path, written);
        }
        writing = false;
    });
    for (int reads = 0; writing || reads == 0; ++reads) {
        problem.clear();
        if (ReadUpdateState(path, read, problem) || !problem.empty()) {
            EXPECT_EQ(read.InstallId, written.InstallId) << problem;
        }
    }
    writer.join();
    // Channel names in any script, and as many of them as there are (past
    // 64 KiB): read back whole, the same names.
    UpdateState wide = {std::wstring(32, L'b'), {{L"b\u00eata", 13}}};
    for (int channel = 0; channel < 2000; ++channel) {
        wide.Sequences[std::wstring(40, L'x') + std::to_wstring(channel)] = 1;
    }
    ASSERT_TRUE(WriteUpdateState(path, wide));
    EXPECT_TRUE(ReadUpdateState(path, read, problem)) << problem;
    EXPECT_TRUE(read.InstallId == wide.InstallId && read.Sequences == wide.Sequences);
    WriteBytes(path, "{\"installId\":");
    EXPECT_FALSE(ReadUpdateState(path, read, problem));
    EXPECT_EQ(problem, L"state file: unreadable; replaced");
    EXPECT_EQ(read.InstallId.size(), 32u);
}

// The updater's schedule on a clock given in seconds: an interval after a
// check, a back-off after network failures (jittered down by up to a half,
// capped at the interval), never before the server's Retry-After.
TEST(UpdaterSchedule, WaitsAnIntervalBacksOffAfterFailuresAndHonoursRetryAfter) {
    using S = UpdateSchedule;
    using std::chrono::hours;
    const std::chrono::seconds day = hours(24), hour = hours(1);
    const std::int64_t now = 2000, future = now + 3650 * 86400;
    const std::tuple<S, std::chrono::seconds, double, std::int64_t> cases[] = {
        {{0, 0, 0}, day, 0, 0},                      // never checked: due now
        {{0, 0, 5000}, day, 0, 5000},                // unless the server asked for later
        {{1000, 0, 0}, day, 0, 1000 + 86400},        // an interval after the last check
        {{1000, 1, 0}, day, 0, 1060},                // one failure: a minute
        {{1000, 1, 0}, day, 1, 1030},                // at most half of it off
        {{1000, 3, 0}, day, 0, 1240},                // doubled with each failure
        {{1000, 9, 0}, hour, 0, 1000 + 3600},        // never longer than the interval
        {{1000, 300, 0}, day, 0, 1000 + 86400},      // however many
        {{1000, 1, 1000 + 600}, day, 0, 1600},       // Retry-After over the back-off
        {{future, 0, 0}, day, 0, now + 86400},       // a clock set back: the check counts as now
        {{future, 2, future}, day, 0, now + 86400},  // and so does the server's word
        {{1000, 1, 99999999}, day, 0, 1000 + 86400}, // Retry-After: an interval at most
        {{0, 0, 99999999}, day, 0, now + 86400},     // even before any check
        {{1000, 0, 0}, hours(8760 * 1000), 0, 1000 + 8760 * 3600}, // an interval of 365 days most
        {{1000, 0, 0}, std::chrono::seconds(0), 0, 1000 + 3600}};  // and an hour at least
    for (const auto& [schedule, interval, jitter, due] : cases) {
        EXPECT_EQ(NextCheckAt(schedule, interval, jitter, now), due)
            << schedule.LastCheck << " " << schedule.Failures << " " << schedule.RetryAfter;
    }
    EXPECT_EQ(BoundedCheckInterval(std::chrono::seconds::max()), hours(8760));
    // Skipped stays skipped, by version number; a critical release is offered anyway.
    EXPECT_FALSE(ShouldOffer(L"2.0", false, L"2.0.0.0"));
    EXPECT_TRUE(ShouldOffer(L"2.0", true, L"2.0") && ShouldOffer(L"2.1", false, L"2.0") &&
                ShouldOffer(L"2.0", false, L""));
}

// The stock progress window says the time left only once a rate is known.
TEST(StockProgress, SaysTheTimeLeftOnlyOnceARateIsKnown) {
    EXPECT_EQ(DescribeProgress({0, 3 << 20, 0}), L"0.0 MB of 3.0 MB");
    EXPECT_EQ(DescribeProgress({1 << 20, 3 << 20, 599186}), L"1.0 MB of 3.0 MB, about 4 s left");
}

// An administrator's number as a DWORD, a QWORD or a decimal text; any other
// form is no number (and then named in the log as ignored).
TEST(UpdaterPolicy, ReadsANumberInEveryFormAnAdministratorWrites) {
    const DWORD dword[] = {0, 1};
    const std::uint64_t qword = 0;
    const std::tuple<DWORD, const void*, DWORD, std::optional<std::uint64_t>> rows[] = {
        {REG_DWORD, &dword[0], 4, 0},
        {REG_DWORD, &dword[1], 4, 1},
        {REG_QWORD, &qword, 8, 0},
        {REG_SZ, L"0", 4, 0},
        {REG_SZ, L"0", 2, 0},
        {REG_SZ, L"17", 6, 17},
        {REG_SZ, L"", 2, std::nullopt},
        {REG_SZ, L"no", 6, std::nullopt},
        {REG_SZ, L" 0", 6, std::nullopt},
        {REG_BINARY, &dword[0], 4, std::nullopt},
        {REG_DWORD, &dword[0], 2, std::nullopt},
        {REG_MULTI_SZ, L"0\0", 6, std::nullopt}};
    for (const auto& [type, data, size, number] : rows) {
        EXPECT_EQ(PolicyNumber(type, data, size), number) << type << " " << size;
    }
}

// The start-up call gives the editor exactly the arguments it had, removes
// only the updater's own (the last two), and cleans the updates folder: the
// package, partial files and the helper's copy always, the status file and
// the installer's log only after a good update.
TEST(UpdateRestart, GivesBackTheEditorsArgumentsAndCleansUpAfterItself) {
    const std::wstring folder = MakeWorkFolder(L"updates");
    const std::wstring status = folder + L"\\update status.txt";
    const std::vector<std::wstring> editor = {L"C:\\Tavo PDF\\tavoPDFEditor.exe"};
    std::vector<std::wstring> own = editor;
    own.insert(own.end(), AwkwardArguments.begin(), AwkwardArguments.end());
    const std::vector<std::wstring> marked[] = {{UpdateStatusArgument, status},
                                                {UpdateStatusArgument, status, L"--open"},
                                                {UpdateStatusArgument},
                                                {L"--tavo-update-statu", status}};
    const wchar_t* const updateFiles[] = {L"tavoPDF-2.0.msi", L"tavoPDF-2.0.exe.partial",
                                          L"tavoPDF-2.0.exe.partial.validator",
                                          L"tavoPDFUpdateHelper.exe"};
    for (const auto& [text, kept] : {std::pair{"Installed successfully.", false},
                                     {"Installation failed. Exit code: 1603", true}}) {
        for (size_t row = 0; row < std::size(marked); ++row) {
            for (const wchar_t* name : updateFiles) {
                WriteBytes(folder + L"\\" + name, "x");
            }
            WriteBytes(folder + L"\\keep.txt", "x");
            WriteBytes(folder + L"\\update state.json", "{}");
            WriteBytes(status, text);
            WriteBytes(status + L".msi.log", "log");
            std::vector<std::wstring> arguments = own;
            arguments.insert(arguments.end(), marked[row].begin(), marked[row].end());
            const UpdateRestart restart = HandleUpdateRestartOf(arguments, folder);
            const bool after = row == 0;
            EXPECT_EQ(restart.AfterUpdate, after) << row;
            EXPECT_EQ(restart.Arguments, after ? own : arguments) << row;
            EXPECT_EQ(restart.Outcome.Text,
                      after ? std::wstring(text, text + std::strlen(text)) : L"");
            EXPECT_EQ(restart.StatusFile, after && kept ? status : L"");
            EXPECT_EQ(restart.InstallerLog, after && kept ? status + L".msi.log" : L"");
            EXPECT_EQ(std::filesystem::exists(status), !after || kept);
            EXPECT_TRUE(std::filesystem::exists(folder + L"\\keep.txt"));
            EXPECT_TRUE(std::filesystem::exists(folder + L"\\update state.json"));
            for (const wchar_t* name : updateFiles) {
                EXPECT_EQ(std::filesystem::exists(folder + L"\\" + name), !after) << name;
            }
        }
    }
}

// A status argument that names anything but the updates folder's own status
// file (a link can put one on the editor's command line) reports nothing,
// reads and removes nothing, and still leaves the editor's arguments.
TEST(UpdateRestart, ReadsNothingButTheUpdatesFoldersOwnStatusFile) {
    const std::wstring folder = MakeWorkFolder(L"updates"), outside = MakeWorkFolder(L"outside");
    const std::wstring asFolder = MakeWorkFolder(L"updates"), package = L"\\tavoPDF-2.0.msi";
    CreateDirectoryW((asFolder + L"\\update status.txt").c_str(), nullptr);
    const std::wstring outsideName = std::filesystem::path(outside).filename().wstring();
    const std::pair<std::wstring, std::wstring> rows[] = {
        {outside + L"\\update status.txt", folder},
        {folder + L"\\..\\" + outsideName + L"\\update status.txt", folder},
        {folder + L"\\..", folder},
        {folder + L"\\update state.json", folder},
        {L"\\\\localhost\\share\\update status.txt", folder},
        {L"\\\\.\\pipe\\update status.txt", folder},
        {asFolder + L"\\update status.txt", asFolder}};
    for (const auto& [argument, updates] : rows) {
        for (const std::wstring& written : {outside + L"\\update status.txt",
                                            folder + L"\\update state.json", updates + package}) {
            WriteBytes(written, "Installed successfully.");
        }
        const std::vector<std::wstring> own = {L"C:\\Tavo PDF\\tavoPDFEditor.exe", L"--open"};
        std::vector<std::wstring> arguments = own;
        arguments.insert(arguments.end(), {UpdateStatusArgument, argument});
        const UpdateRestart restart = HandleUpdateRestartOf(arguments, updates);
        EXPECT_FALSE(restart.AfterUpdate) << testing::PrintToString(argument);
        EXPECT_EQ(restart.Arguments, own);
        EXPECT_TRUE(restart.StatusFile.empty() && restart.Outcome.Text.empty());
        EXPECT_TRUE(std::filesystem::exists(updates + package));
    }
    // No arguments at all, or a null one, is no fault of the editor's.
    EXPECT_TRUE(HandleUpdateRestart(2, nullptr, folder).Arguments.empty());
    const wchar_t* const withNull[] = {L"e.exe", nullptr};
    EXPECT_EQ(HandleUpdateRestart(2, withNull, folder).Arguments,
              (std::vector<std::wstring>{L"e.exe", L""}));
}

TEST(VersionText, IsTwoToFourComponentsOfAtMostFiveAsciiDigitsUpTo65535) {
    for (const wchar_t* text : {L"2.1", L"2.01", L"2.1.0.0"}) {
        EXPECT_EQ(ParseVersion(text), (VersionNumber{2, 1, 0, 0})) << testing::PrintToString(text);
    }
    EXPECT_EQ(ParseVersion(L"65535.00001.0.9"), (VersionNumber{65535, 1, 0, 9}));
    for (const wchar_t* text : {L"", L"7", L"1.2.3.4.5", L"1..2", L".1.2", L"1.2.", L"1.2 ",
                                L"v1.2", L"1./", L"1.:", L"65536.0", L"000001.0", L"\uFF11.0"}) {
        EXPECT_EQ(ParseVersion(text), std::nullopt) << testing::PrintToString(text);
    }
    // By number, all four components, and never for a text that is no version.
    EXPECT_TRUE(IsNewerVersion(L"10.0", L"9.9.9.9") && IsSameVersion(L"2.01", L"2.1"));
    EXPECT_FALSE(IsNewerVersion(L"2.1.0.0", L"2.1.0.1") || IsSameVersion(L"2.1.0.1", L"2.1"));
    EXPECT_FALSE(IsNewerVersion(L"2.0", L"") || IsSameVersion(L"x.y", L"x.y"));
}

TEST(InstallerParameters, AreTheSilentMsiFormWithTheLogBesideTheStatusFile) {
    EXPECT_EQ(BuildInstallerParameters(true, L"D:\\Down loads\\u.msi", L"C:\\",
                                       MsiLogPath(L"C:/Temp/up date.txt")),
              L"/i \"D:\\Down loads\\u.msi\" /qn /norestart REBOOT=ReallySuppress "
              L"MSIRESTARTMANAGERCONTROL=Disable INSTALLFOLDER=\"C:\\\\\" /L*v "
              L"\"C:/Temp/up date.txt.msi.log\"");
}

// A declined elevation prompt is error 1223. GetSystemDirectoryW answers 0 on
// failure and the size it needs when the directory does not fit: only an
// answer below the buffer's size is a path.
TEST(InstallerPhase, DecidesWhatWineCannotProduce) {
    EXPECT_STREQ(InstallerStartFailureText(1223), L"Installation permission was cancelled.");
    for (const DWORD error : {0ul, 2ul, 5ul, 1222ul, 1224ul, 0xFFFFFFFFul}) {
        EXPECT_STREQ(InstallerStartFailureText(error), L"Cannot start the installer.");
    }
    wchar_t buffer[SystemDirectoryBufferLength] = L"C:\\windows\\system32";
    EXPECT_EQ(MsiexecPathFromSystemDirectory(19, buffer, SystemDirectoryBufferLength),
              L"C:\\windows\\system32\\msiexec.exe");
    for (const UINT answer : {0u, 259u, 260u, 261u, 32767u}) {
        const bool path = MsiexecPathFromSystemDirectory(answer, buffer, 260).has_value();
        EXPECT_EQ(path, answer == 259) << answer;
    }
}

TEST(SuiteScan, CountsASuiteNameRunningFromTheInstallFolderOrThatCannotBeInspected) {
    for (const wchar_t* name : {L"tavoPDFEditor.exe", L"NorvexViewer.exe", L"NORVEXorganizer.EXE",
                                L"NorvexCompare.exe", L"NorvexStarter.exe", L"norvextool.exe"}) {
        EXPECT_TRUE(IsSuiteExecutableName(name)) << testing::PrintToString(name);
    }
    for (const wchar_t* name :
         {L"NorvexViewer2.exe", L"xNorvexTool.exe", L"NorvexTool.exe.exe", L"NorvexTool"}) {
        EXPECT_FALSE(IsSuiteExecutableName(name)) << testing::PrintToString(name);
    }
    // Image paths against the install folder C:\Tavo PDF: only its own files count.
    for (const std::wstring image :
         {L"C:\\Tavo PDF\\NorvexViewer.exe", L"c:\\tavo pdf\\NorvexViewer.exe"}) {
        EXPECT_TRUE(SuiteProcessCounts(true, &image, L"C:\\Tavo PDF"))
            << testing::PrintToString(image);
    }
    for (const std::wstring image :
         {L"C:\\Tavo PDF\\plugins\\NorvexViewer.exe", L"C:\\Tavo PDF 2\\NorvexViewer.exe",
          L"C:\\NorvexViewer.exe"}) {
        EXPECT_FALSE(SuiteProcessCounts(true, &image, L"C:\\Tavo PDF"))
            << testing::PrintToString(image);
    }
    EXPECT_TRUE(SuiteProcessCounts(false, nullptr, L"D:\\")) << "could not be opened";
    EXPECT_TRUE(SuiteProcessCounts(true, nullptr, L"D:\\")) << "image path unreadable";
    const std::wstring inRoot = L"C:\\NorvexTool.exe";
    EXPECT_TRUE(SuiteProcessCounts(true, &inRoot, L"C:\\")) << "install folder at a drive root";
}

} // namespace
