// An editor that uses only the updater, against the signed feeds the test
// command published on nginx (stable.json; slow.json, whose package comes
// from nginx's slow location): the test process runs the updater for a
// stand-in editor at 1.0 in an install folder of its own, answers its
// callbacks as an editor would, and, once the helper has started the editor
// again, makes the start-up call with the restarted editor's command line.

#include "base/handle_owner.h"
#include "base/utf8_text.h"
#include "editor/feed/update_state.h"
#include "harness.h"
#include "tavo/editor_updater.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

using namespace tavo;

namespace {

// An install folder with the 1.0 editor running and the helper beside it,
// and an updates folder; the updater's settings for them.
struct Editor {
    std::wstring Work, Install, Path, Updates;
    StartedProcess User;
    UpdaterSettings Settings;
};

Editor StartEditor(const std::wstring& feed) {
    Editor editor;
    editor.Work = MakeWorkFolder(L"updater");
    editor.Install = editor.Work + L"\\Tavo PDF";
    editor.Path = editor.Install + L"\\tavoPDFEditor.exe";
    editor.Updates = editor.Work + L"\\Updates";
    CreateDirectoryW(editor.Install.c_str(), nullptr);
    CopyFileW((FixturesFolder() + L"\\editor-1.0\\tavoPDFEditor.exe").c_str(), editor.Path.c_str(),
              FALSE);
    CopyFileW(HelperExecutablePath().c_str(),
              (editor.Install + L"\\tavoPDFUpdateHelper.exe").c_str(), FALSE);
    editor.User = StartStandIn(editor.Path);
    UpdaterSettings& settings = editor.Settings;
    settings.FeedUrl = Environment(L"TAVO_TEST_WEB") + L"/" + feed;
    settings.FeedKeys = {KeyPin(L"feed-ec")};
    settings.PublisherKeys = {KeyPin(L"publisher")};
    settings.UpdatesFolder = editor.Updates;
    settings.AutomaticChecks = false; // checks by hand: a policy row may run meanwhile
    settings.EditorProcessId = editor.User.ProcessId;
    settings.EditorPath = editor.Path;
    settings.EditorArguments = AwkwardArguments;
    return editor;
}

// The updater's events as they come, awaited from the test's thread.
struct Events {
    std::mutex Lock;
    std::condition_variable Came;
    std::vector<UpdaterEvent> Seen;

    void Add(UpdaterEvent event) {
        const std::lock_guard<std::mutex> holding(Lock);
        Seen.push_back(event);
        Came.notify_all();
    }
    // The first event, 60 s at most.
    std::optional<UpdaterEvent> First() {
        std::unique_lock<std::mutex> holding(Lock);
        Came.wait_for(holding, std::chrono::seconds(60), [&] { return !Seen.empty(); });
        return Seen.empty() ? std::nullopt : std::optional(Seen.front());
    }
};

UpdaterCallbacks Answering(UpdateChoice choice, Events& events, Editor& editor,
                           int* asked = nullptr) {
    UpdaterCallbacks callbacks;
    callbacks.AskToInstall = [choice, asked](const UpdateOffered& offer) {
        if (asked != nullptr) {
            *asked +=
                offer.Version == L"2.0" && offer.Notes == L"Faster opening of large documents.";
        }
        return choice;
    };
    callbacks.CloseDocuments = [] { return true; };
    callbacks.ExitNow = [&editor] { EndProcess(editor.User); };
    callbacks.OnEvent = [&events](UpdaterEvent event, const std::wstring&) { events.Add(event); };
    return callbacks;
}

// Held by the policy row while its value is in the registry, and by a row
// whose updater relies on automatic checks while it is made (the policy is
// read then): the rows run in parallel, in one prefix.
struct PolicyHeld {
    HANDLE Mutex = CreateMutexW(nullptr, FALSE, L"Local\\TavoTestsUpdatePolicy");
    PolicyHeld() { WaitForSingleObject(Mutex, 60000); }
    ~PolicyHeld() {
        ReleaseMutex(Mutex);
        CloseHandle(Mutex);
    }
};

// The restarted editor's command line (start `at` in the install folder),
// split as its main would get it.
std::vector<std::wstring> RestartedArguments(const std::wstring& install, size_t at = 1) {
    const std::vector<std::wstring> starts = ReadStarts(install, at + 1);
    if (starts.size() <= at) {
        return {};
    }
    int count = 0;
    LPWSTR* split =
        CommandLineToArgvW(starts[at].substr(starts[at].find(L"> ") + 2).c_str(), &count);
    std::vector<std::wstring> arguments(split, split + count);
    LocalFree(split);
    return arguments;
}

struct Row {
    const char* Situation;
    const char* SetupExitCode; // "": the setup succeeds
    OutcomeKind Outcome;
    bool Kept; // the status file and the installer's log stay, and are named
    // The 2.0 setup built from the installed 1.0 editor; with delta.json, an
    // MSI of several files built from the 1.0 package kept by the last update.
    const wchar_t* Feed = L"stable.json";
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.Situation;
}

const Row Rows[] = {
    {"InstallsRestartsAndCleansUp", "", OutcomeKind::Installed, false},
    {"FailedInstallKeepsTheStatusFile", "1603", OutcomeKind::FailedAfterEditorExit, true},
    {"MsiBuiltFromTheKeptPackage", "", OutcomeKind::Installed, false, L"delta.json"},
};

class UpdaterRun : public testing::TestWithParam<Row> {};

TEST_P(UpdaterRun, FromTheFeedToTheRestartedEditor) {
    const Row& row = GetParam();
    Editor editor = StartEditor(row.Feed);
    CreateDirectoryW(editor.Updates.c_str(), nullptr);
    const bool msi = std::wstring(row.Feed) == L"delta.json";
    if (msi) {
        // The 1.0 release of several files as its MSI installed it, and that MSI kept.
        const std::wstring delta = FixturesFolder() + L"\\delta\\";
        for (const wchar_t* file : {L"fonts.dat", L"viewer.dll", L"help.dat"}) {
            CopyFileW((delta + L"1.0\\" + file).c_str(), (editor.Install + L"\\" + file).c_str(),
                      FALSE);
        }
        CreateDirectoryW((editor.Updates + L"\\base").c_str(), nullptr);
        CopyFileW((delta + L"1.0.msi").c_str(),
                  (editor.Updates + L"\\base\\tavoPDF-1.0.msi").c_str(), FALSE);
    }
    if (*row.SetupExitCode != '\0') {
        WriteBytes(editor.Updates + L"\\behaviour.txt", row.SetupExitCode); // read by the setup
    }
    Events events;
    int asked = 0;
    {
        Updater updater(editor.Settings,
                        Answering(UpdateChoice::InstallNow, events, editor, &asked));
        updater.CheckNow();
        EXPECT_EQ(events.First(), UpdaterEvent::Committed);
    }
    EXPECT_EQ(asked, 1) << "asked once, with the version and its notes";
    StartedProcess helper = FindProcess(editor.Updates + L"\\tavoPDFUpdateHelper.exe");
    const HelperEnd end = AwaitHelperEnd(helper.Process, helper.ProcessId, 120000);
    EXPECT_EQ(end.Dialogs.size(), row.Kept ? 1u : 0u);
    std::vector<std::wstring> restarted = RestartedArguments(editor.Install);
    ASSERT_FALSE(restarted.empty()) << "the editor was started again";
    const UpdateRestart restart = HandleUpdateRestartOf(restarted, editor.Updates);
    EXPECT_TRUE(restart.AfterUpdate);
    EXPECT_EQ(restart.Outcome.Kind, row.Outcome) << restart.Outcome.Text;
    EXPECT_EQ(std::vector<std::wstring>(restart.Arguments.begin() + 1, restart.Arguments.end()),
              AwkwardArguments);
    EXPECT_EQ(restart.StatusFile.empty(), !row.Kept);
    EXPECT_EQ(std::filesystem::exists(editor.Updates + L"\\update status.txt"), row.Kept);
    // No package, partial file or helper copy is left in the updates folder;
    // the package installed is kept apart as the next update's base.
    for (const auto& file : std::filesystem::directory_iterator(editor.Updates)) {
        const std::wstring name = file.path().filename().wstring();
        EXPECT_FALSE(name.starts_with(L"tavoPDF")) << name;
    }
    const std::wstring package = msi ? L"delta-2.0.msi" : L"editor-2.0.exe";
    EXPECT_TRUE(
        ReadBytes(editor.Updates + L"\\base\\tavoPDF-2.0." + (msi ? L"msi" : L"exe")) ==
        (row.Kept ? std::nullopt : ReadBytes(Environment(L"TAVO_TEST_WWW") + L"\\" + package)));
    std::error_code none;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(editor.Updates + L"\\base", none),
                            std::filesystem::directory_iterator()),
              row.Kept ? 0 : 1)
        << "the package kept before goes";
    // The installed 1.0 editor, or the kept 1.0 package, made up most of 2.0.
    const std::string log = ReadBytes(editor.Updates + L"\\update log.txt").value_or("");
    EXPECT_NE(log.find("download: downloaded built from what the machine has"), std::string::npos)
        << log;
    EndStandIns(editor.Install);
    EndProcess(helper);
}

INSTANTIATE_TEST_SUITE_P(Rows, UpdaterRun, testing::ValuesIn(Rows),
                         [](const auto& info) { return std::string(info.param.Situation); });

// What the editor's side does in a row of the table below.
enum class Twist {
    None,
    AskThrows,
    NoAsk,
    CloseDeclines,
    CloseThrows,
    ExitThrows,
    DownloadFirst,
    HelperCopyHeld,
    NotNamedAsTheEditor,
    NoHelperBeside,
    StoppedWhileChecking,
    ServerDown,
    ProgressThrows,
    EventThrows,
};

struct ChoiceRow {
    const char* Situation;
    const wchar_t* Feed; // published by the test command, served by nginx (or as the twist says)
    UpdateChoice Choice;
    Twist Twist;
    UpdaterEvent Event;
    int PackageKept; // 1: in the updates folder after it; 0: not; -1: either
    const char* Logged;
};

void PrintTo(const ChoiceRow& row, std::ostream* out) {
    *out << row.Situation;
}

constexpr auto Install = UpdateChoice::InstallNow;
const ChoiceRow ChoiceRows[] = {
    {"DeclinedCloseKeepsTheEditorRunning", L"stable.json", Install, Twist::CloseDeclines,
     UpdaterEvent::NotNow, 1, "hand-over: the editor did not close; not now"},
    {"CloseThatThrowsIsDeclined", L"stable.json", Install, Twist::CloseThrows, UpdaterEvent::NotNow,
     1, "the editor's close callback threw; taken as declined"},
    {"AskThatThrowsIsLater", L"stable.json", Install, Twist::AskThrows, UpdaterEvent::NotNow, 0,
     "the editor's question callback threw; taken as later"},
    {"NoAskIsLater", L"stable.json", Install, Twist::NoAsk, UpdaterEvent::NotNow, 0,
     "offer: 2.0, later"},
    {"CriticalReleaseIsNotSkipped", L"critical.json", UpdateChoice::SkipThisVersion, Twist::None,
     UpdaterEvent::NotNow, 0, "offer: 2.0, skip refused: the release is critical"},
    {"DownloadedBeforeAsking", L"stable.json", UpdateChoice::Later, Twist::DownloadFirst,
     UpdaterEvent::NotNow, 1, "download: downloaded"},
    {"ExitThatThrowsIsLogged", L"stable.json", Install, Twist::ExitThrows, UpdaterEvent::Committed,
     -1, "the editor's exit callback threw; ignored"},
    {"HelperCopyUnlikeTheInstalledOne", L"stable.json", Install, Twist::HelperCopyHeld,
     UpdaterEvent::Failed, 1, "hand-over: no helper copy like"},
    {"EditorNotNamedAsTheHelperWants", L"stable.json", Install, Twist::NotNamedAsTheEditor,
     UpdaterEvent::Failed, 0,
     "cannot update this editor: editor executable: not named tavoPDFEditor.exe"},
    {"StoppedCheckIsNotNow", L"stable.json", Install, Twist::StoppedWhileChecking,
     UpdaterEvent::NotNow, 0, "check by hand: stopped"},
    {"ServerDownIsCountedForTheBackOff", L"stable.json", Install, Twist::ServerDown,
     UpdaterEvent::NetworkFailed, 0, "check by hand: network failed"},
    {"NoHelperBesideTheEditor", L"stable.json", Install, Twist::NoHelperBeside,
     UpdaterEvent::Failed, 0, "cannot update this editor: helper: no tavoPDFUpdateHelper.exe"},
    {"ProgressThatThrowsStopsTheDownload", L"stable.json", Install, Twist::ProgressThrows,
     UpdaterEvent::NotNow, 0, "download: the editor's progress callback threw; stopped"},
    {"EventThatThrowsIsIgnored", L"stable.json", UpdateChoice::Later, Twist::EventThrows,
     UpdaterEvent::NotNow, 0, "the editor's event callback threw; ignored"},
};

class UpdaterChoices : public testing::TestWithParam<ChoiceRow> {};

TEST_P(UpdaterChoices, EndAsTheEditorAnswered) {
    const ChoiceRow& row = GetParam();
    Editor editor = StartEditor(row.Feed);
    const std::wstring www = Environment(L"TAVO_TEST_WWW") + L"\\";
    const std::wstring feed = std::filesystem::path(editor.Work).filename().wstring() + L".json";
    for (const wchar_t* end : {L"", L".sig"}) {
        CopyFileW((www + row.Feed + end).c_str(), (www + feed + end).c_str(), FALSE);
    }
    const std::wstring base =
        row.Twist == Twist::StoppedWhileChecking ? Environment(L"TAVO_TEST_FAULTS") + L"/silent/"
        : row.Twist == Twist::ServerDown         ? L"https://localhost:1/"
                                                 : Environment(L"TAVO_TEST_WEB") + L"/";
    editor.Settings.FeedUrl = base + feed;
    CreateDirectoryW(editor.Updates.c_str(), nullptr);
    // A version skipped before the one running is the user's concern no more.
    const std::wstring stateFile = editor.Updates + L"\\update state.json";
    UpdateState state;
    std::wstring problem;
    ReadUpdateState(stateFile, state, problem);
    state.Skipped = L"0.9";
    WriteUpdateState(stateFile, state);
    UniqueHandle held = OwnHandle(INVALID_HANDLE_VALUE);
    if (row.Twist == Twist::HelperCopyHeld) {
        const std::wstring copy = editor.Updates + L"\\tavoPDFUpdateHelper.exe";
        WriteBytes(copy, "an older helper");
        held = OwnHandle(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    }
    if (row.Twist == Twist::NotNamedAsTheEditor) {
        EndStandIns(editor.Install);
        editor.Path = editor.Install + L"\\tavoEditor.exe";
        editor.User = StartStandIn(editor.Path);
        editor.Settings.EditorPath = editor.Path;
        editor.Settings.EditorProcessId = editor.User.ProcessId;
    }
    if (row.Twist == Twist::NoHelperBeside) {
        DeleteFileW((editor.Install + L"\\tavoPDFUpdateHelper.exe").c_str());
    }
    editor.Settings.DownloadWithoutAsking = row.Twist == Twist::DownloadFirst;
    Events events;
    UpdaterCallbacks callbacks = Answering(row.Choice, events, editor);
    std::optional<UpdateOffered> asked;
    callbacks.AskToInstall = [&](const UpdateOffered& offer) {
        asked = offer;
        if (row.Twist == Twist::AskThrows) {
            throw std::runtime_error("the editor's own fault");
        }
        return row.Choice;
    };
    const auto fault = [] { throw std::runtime_error("the editor's own fault"); };
    if (row.Twist == Twist::NoAsk) {
        callbacks.AskToInstall = nullptr;
    } else if (row.Twist == Twist::CloseDeclines) {
        callbacks.CloseDocuments = [] { return false; };
    } else if (row.Twist == Twist::CloseThrows) {
        callbacks.CloseDocuments = [&]() -> bool {
            fault();
            return true;
        };
    } else if (row.Twist == Twist::ExitThrows) {
        callbacks.ExitNow = [&] { EndProcess(editor.User), fault(); };
    } else if (row.Twist == Twist::ProgressThrows) {
        callbacks.OnProgress = [&](const DownloadProgress&) { fault(); };
    } else if (row.Twist == Twist::EventThrows) {
        callbacks.OnEvent = [&](UpdaterEvent event, const std::wstring&) {
            events.Add(event);
            fault();
        };
    }
    std::wstring cannot;
    {
        Updater updater(editor.Settings, callbacks);
        cannot = updater.CannotUpdate();
        updater.CheckNow();
        for (int tries = 0; row.Twist == Twist::StoppedWhileChecking && tries < 3000 &&
                            !std::filesystem::exists(www + feed + L".asked");
             ++tries) {
            Sleep(10); // polled: the fault server marks the request it holds
        }
        if (row.Twist == Twist::StoppedWhileChecking) {
            updater.StopCurrent();
        }
        EXPECT_EQ(events.First(), row.Event);
    }
    if (row.PackageKept >= 0) {
        EXPECT_EQ(std::filesystem::exists(editor.Updates + L"\\tavoPDF-2.0.exe"),
                  row.PackageKept == 1);
    }
    const std::string log = ReadBytes(editor.Updates + L"\\update log.txt").value_or("");
    EXPECT_NE(log.find(row.Logged), std::string::npos) << log;
    ReadUpdateState(stateFile, state, problem);
    EXPECT_EQ(state.Skipped, L"");
    if (asked) {
        EXPECT_EQ(asked->RunningVersion, L"1.0.0.0");
        EXPECT_EQ(asked->Downloaded, row.Twist == Twist::DownloadFirst);
    }
    if (row.Event == UpdaterEvent::NotNow) {
        EXPECT_EQ(WaitForSingleObject(editor.User.Process, 0), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the editor runs on";
    }
    const bool refusedAtStart =
        row.Twist == Twist::NotNamedAsTheEditor || row.Twist == Twist::NoHelperBeside;
    if (refusedAtStart) {
        const std::string said = std::string(row.Logged).substr(27); // after "... editor: "
        EXPECT_TRUE(ToUtf8(cannot).starts_with(said)) << ToUtf8(cannot);
        const std::string requests = ReadBytes(Environment(L"TAVO_TEST_WEB_LOG")).value_or("");
        EXPECT_EQ(requests.find(std::string(feed.begin(), feed.end())), std::string::npos);
    }
    EXPECT_EQ(state.Failures, row.Twist == Twist::ServerDown ? 1 : 0);
    EXPECT_EQ(state.LastCheck > 0, !refusedAtStart);
    if (row.Event == UpdaterEvent::Committed) {
        StartedProcess helper = FindProcess(editor.Updates + L"\\tavoPDFUpdateHelper.exe");
        AwaitHelperEnd(helper.Process, helper.ProcessId, 120000);
        EndProcess(helper);
    }
    EndStandIns(editor.Install);
}

INSTANTIATE_TEST_SUITE_P(Rows, UpdaterChoices, testing::ValuesIn(ChoiceRows),
                         [](const auto& info) { return std::string(info.param.Situation); });

// A version the user skipped is not offered again by the schedule, and its
// package is never fetched; a check by hand offers it again.
TEST(UpdaterChoice, ASkippedVersionIsNotOfferedAgainBeforeTheUserAsks) {
    Editor editor = StartEditor(L"stable.json");
    for (const auto& [choice, byHand, expected] :
         {std::tuple{UpdateChoice::SkipThisVersion, true, UpdaterEvent::Skipped},
          {UpdateChoice::InstallNow, false, UpdaterEvent::Skipped},
          {UpdateChoice::Later, true, UpdaterEvent::NotNow}}) {
        // The last check made long ago: an automatic one is due at once.
        const std::wstring state = editor.Updates + L"\\update state.json";
        UpdateState kept;
        std::wstring problem;
        ReadUpdateState(state, kept, problem);
        kept.LastCheck = 1;
        WriteUpdateState(state, kept);
        Events events;
        int asked = 0;
        editor.Settings.AutomaticChecks = !byHand;
        std::optional<PolicyHeld> policy(std::in_place);
        const auto made = std::chrono::steady_clock::now();
        Updater updater(editor.Settings, Answering(choice, events, editor, &asked));
        policy.reset();
        if (byHand) {
            updater.CheckNow();
        }
        EXPECT_EQ(events.First(), expected);
        // The editor's start is the user's: no automatic check in its first five seconds.
        EXPECT_TRUE(byHand || std::chrono::steady_clock::now() - made >= std::chrono::seconds(5));
        EXPECT_EQ(asked, byHand ? 1 : 0);
    }
    EXPECT_FALSE(std::filesystem::exists(editor.Updates + L"\\tavoPDF-2.0.exe"));
    EndStandIns(editor.Install);
}

// The updater's end stops a download in progress and keeps its partial file;
// so does a stop asked while it runs.
TEST(UpdaterEnd, StopsADownloadInProgressAndKeepsThePartialFile) {
    Editor editor = StartEditor(L"slow.json");
    Events events;
    std::mutex lock;
    std::condition_variable progressed;
    bool started = false;
    UpdaterCallbacks callbacks = Answering(UpdateChoice::InstallNow, events, editor);
    callbacks.OnProgress = [&](const DownloadProgress&) {
        const std::lock_guard<std::mutex> holding(lock);
        started = true;
        progressed.notify_all();
    };
    {
        Updater updater(editor.Settings, callbacks);
        updater.CheckNow();
        std::unique_lock<std::mutex> holding(lock);
        EXPECT_TRUE(
            progressed.wait_for(holding, std::chrono::seconds(60), [&] { return started; }));
    }
    EXPECT_TRUE(std::filesystem::exists(editor.Updates + L"\\tavoPDF-2.0.msi.partial"));
    EXPECT_FALSE(std::filesystem::exists(editor.Updates + L"\\tavoPDF-2.0.msi"));
    EndStandIns(editor.Install);
}

// An administrator's policy, in whatever form the value was written: the
// updater honours a number as DWORD, QWORD or decimal text and names in its
// log a value it cannot read; automatic checks off leave checks by hand,
// updates forbidden refuse them too, a channel fixed is the one checked.
struct PolicyRow {
    const char* Situation;
    const wchar_t* Name;
    DWORD Type;
    const wchar_t* Text; // REG_SZ; otherwise the value is 0 in the type's size
    const wchar_t* Off;  // AutomaticChecksOff()
    UpdaterEvent Event;  // of a check by hand
    size_t Requests;     // for the feed, in nginx's log
    const char* Logged;
};

void PrintTo(const PolicyRow& row, std::ostream* out) {
    *out << row.Situation;
}

const PolicyRow PolicyRows[] = {
    {"AutomaticChecksOffAsText", L"AutomaticChecks", REG_SZ, L"0",
     L"policy: automatic checks are off", UpdaterEvent::NotNow, 1,
     "; policy: automatic checks are off"},
    {"AutomaticChecksOffAsQword", L"AutomaticChecks", REG_QWORD, nullptr,
     L"policy: automatic checks are off", UpdaterEvent::NotNow, 1,
     "; policy: automatic checks are off"},
    {"UpdatesForbiddenEvenByHand", L"UpdatesAllowed", REG_DWORD, nullptr,
     L"policy: updates are forbidden", UpdaterEvent::UpdatesForbidden, 0,
     "check by hand refused: policy: updates are forbidden"},
    {"UpdatesForbiddenAsText", L"UpdatesAllowed", REG_SZ, L"0", L"policy: updates are forbidden",
     UpdaterEvent::UpdatesForbidden, 0, "check by hand refused: policy: updates are forbidden"},
    {"ChannelFixedByPolicy", L"Channel", REG_SZ, L"beta", L"", UpdaterEvent::Refused, 1,
     "channel beta (fixed by policy)"},
    {"UnreadableValueIsNamed", L"AutomaticChecks", REG_BINARY, nullptr, L"", UpdaterEvent::NotNow,
     1, "policy: AutomaticChecks: REG_BINARY, not a number; ignored"},
    {"ChannelThatIsNoTextIsNamed", L"Channel", REG_DWORD, nullptr, L"", UpdaterEvent::NotNow, 1,
     "policy: Channel: REG_DWORD, not a text; ignored"},
};

class UpdaterPolicy : public testing::TestWithParam<PolicyRow> {};

TEST_P(UpdaterPolicy, IsHonouredInTheFormAnAdministratorWroteIt) {
    const PolicyRow& row = GetParam();
    Editor editor = StartEditor(L"stable.json");
    const std::wstring feed = std::filesystem::path(editor.Work).filename().wstring() + L".json";
    const std::wstring www = Environment(L"TAVO_TEST_WWW") + L"\\";
    for (const wchar_t* end : {L"", L".sig"}) {
        CopyFileW((www + L"stable.json" + end).c_str(), (www + feed + end).c_str(), FALSE);
    }
    editor.Settings.FeedUrl = Environment(L"TAVO_TEST_WEB") + L"/" + feed;
    editor.Settings.AutomaticChecks = true;
    // Checked a moment ago: no automatic check is due while the row runs.
    UpdateState state;
    std::wstring problem;
    CreateDirectoryW(editor.Updates.c_str(), nullptr);
    ReadUpdateState(editor.Updates + L"\\update state.json", state, problem);
    state.LastCheck = static_cast<std::int64_t>(std::time(nullptr));
    WriteUpdateState(editor.Updates + L"\\update state.json", state);
    const std::uint64_t zero = 0;
    const void* data = row.Text != nullptr ? static_cast<const void*>(row.Text) : &zero;
    const DWORD size = row.Text != nullptr     ? static_cast<DWORD>(2 * (wcslen(row.Text) + 1))
                       : row.Type == REG_QWORD ? 8
                                               : 4;
    const wchar_t* const key = L"Software\\Policies\\Tavo PDF\\Update";
    std::optional<PolicyHeld> policy(std::in_place);
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, row.Name, row.Type, data, size),
              ERROR_SUCCESS);
    Events events;
    {
        Updater updater(editor.Settings, Answering(UpdateChoice::Later, events, editor));
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key, row.Name);
        policy.reset();
        EXPECT_EQ(updater.AutomaticChecksOff(), row.Off);
        updater.CheckNow();
        EXPECT_EQ(events.First(), row.Event);
    }
    const std::string log = ReadBytes(editor.Updates + L"\\update log.txt").value_or("");
    EXPECT_NE(log.find(row.Logged), std::string::npos) << log;
    const std::string requests = ReadBytes(Environment(L"TAVO_TEST_WEB_LOG")).value_or("");
    const std::string asked = '/' + std::string(feed.begin(), feed.end()) + ' ';
    size_t count = 0;
    for (size_t at = requests.find(asked); at != std::string::npos;
         at = requests.find(asked, at + 1)) {
        ++count;
    }
    EXPECT_EQ(count, row.Requests) << "requests for the feed";
    EndStandIns(editor.Install);
}

INSTANTIATE_TEST_SUITE_P(Rows, UpdaterPolicy, testing::ValuesIn(PolicyRows),
                         [](const auto& info) { return std::string(info.param.Situation); });

// The log as editor processes write it: two at once lose no line; a long
// line is cut and says so; past 64 KiB the oldest lines go, never the newest.
TEST(UpdaterLog, KeepsEveryLineOfTwoProcessesWithinItsBound) {
    const std::wstring folder = MakeWorkFolder(L"log"), log = folder + L"\\update log.txt";
    const auto write = [&](std::vector<std::wstring> tags, const wchar_t* lines,
                           const wchar_t* length) {
        std::vector<StartedProcess> writers;
        const std::wstring program = FixturesFolder() + L"\\log_writer.exe";
        for (const std::wstring& tag : tags) {
            writers.push_back(StartProcess(
                program, L"log_writer \"" + log + L"\" " + tag + L" " + lines + L" " + length,
                folder));
        }
        for (StartedProcess& writer : writers) {
            DWORD exitCode = 99;
            WaitForSingleObject(writer.Process, 60000);
            GetExitCodeProcess(writer.Process, &exitCode);
            EXPECT_EQ(exitCode, 0u);
            EndProcess(writer);
        }
        return ReadBytes(log).value_or("");
    };
    std::string text = write({L"A", L"B"}, L"300", L"20");
    for (const char* tag : {"Z A ", "Z B "}) {
        for (int line = 0; line < 300; ++line) {
            const std::string whole = tag + std::to_string(line) + " " + std::string(20, 'x');
            EXPECT_NE(text.find(whole + "\n"), std::string::npos) << whole;
        }
    }
    text = write({L"C"}, L"1", L"5000");
    EXPECT_TRUE(text.ends_with(" C 0 " + std::string(1000 - 4, 'x') + " [cut]\n"));
    text = write({L"D"}, L"800", L"100");
    EXPECT_LE(text.size(), (64u << 10) + 130u);
    EXPECT_TRUE(text.ends_with(" D 799 " + std::string(100, 'x') + "\n"));
    EXPECT_EQ(text.find(" A 0 "), std::string::npos) << "the oldest lines went";
}

// The stock windows, read and answered from the keyboard as a user would.
constexpr wchar_t StockClass[] = L"TavoPDFUpdateWindow";

// A stock window left open when the editor ends: the updater's end answers
// it as the user's Later or No would, instead of waiting for the user. The
// offer of a critical release says what runs, shows its notes line by line
// and cannot be skipped.
class StockWindowOpen : public testing::TestWithParam<bool> {};

TEST_P(StockWindowOpen, IsAnsweredWhenTheUpdaterEnds) {
    const bool question = GetParam(); // "save your work and restart?", else the offer
    Editor editor = StartEditor(L"critical.json");
    std::optional<Updater> updater(std::in_place, editor.Settings,
                                   StockUpdaterDialogs([] { return true; }, [] {}));
    updater->CheckNow();
    const HWND offer = AwaitWindow(GetCurrentProcessId(), StockClass, L"Tavo PDF update");
    ASSERT_NE(offer, nullptr);
    EXPECT_EQ(ChildText(offer, 10), L"Tavo PDF 2.0 is available; you have 1.0.0.0.");
    EXPECT_EQ(ChildText(offer, 11), L"An important update that cannot be skipped.\r\n\r\n"
                                    L"Fixes a flaw in opening documents.\r\nUpdate now.");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(offer, 100))) << "Skip this version";
    HWND open = offer;
    if (question) {
        PressKey(offer, VK_RETURN);
        open = AwaitWindow(GetCurrentProcessId(), L"#32770", L"Tavo PDF update");
        ASSERT_NE(open, nullptr);
    }
    const UniqueHandle ended = OwnHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool rescued = false;
    std::thread watchdog([&] {
        if (WaitForSingleObject(ended.get(), 30000) == WAIT_TIMEOUT) {
            rescued = true; // the user's answer, which the updater waited for
            PostMessageW(open, WM_COMMAND, question ? IDNO : IDCANCEL, 0);
        }
    });
    updater.reset();
    SetEvent(ended.get());
    watchdog.join();
    EXPECT_FALSE(rescued) << "the updater's end waited for the user";
    const std::string log = ReadBytes(editor.Updates + L"\\update log.txt").value_or("");
    EXPECT_NE(log.find(question ? "the editor did not close" : "offer: 2.0, later"),
              std::string::npos)
        << log;
    EXPECT_EQ(WaitForSingleObject(editor.User.Process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EndStandIns(editor.Install);
}

INSTANTIATE_TEST_SUITE_P(Rows, StockWindowOpen, testing::Values(false, true), [](const auto& info) {
    return std::string(info.param ? "SaveYourWork" : "Offer");
});

// Escape in the progress window stops the download as its Stop button does,
// and the log says that the user stopped it.
TEST(StockWindows, EscapeStopsTheDownloadAndKeepsThePartialFile) {
    Editor editor = StartEditor(L"slow.json");
    Events events;
    UpdaterCallbacks callbacks = StockUpdaterDialogs([] { return true; }, [] {});
    callbacks.OnEvent = [&events, stock = callbacks.OnEvent](UpdaterEvent event,
                                                             const std::wstring& text) {
        stock(event, text);
        events.Add(event);
    };
    Updater updater(editor.Settings, callbacks);
    updater.CheckNow();
    const HWND offer = AwaitWindow(GetCurrentProcessId(), StockClass, L"Tavo PDF update");
    ASSERT_NE(offer, nullptr);
    PressKey(offer, VK_RETURN);
    const HWND progress =
        AwaitWindow(GetCurrentProcessId(), StockClass, L"Downloading the Tavo PDF update");
    ASSERT_NE(progress, nullptr);
    PressKey(progress, VK_ESCAPE);
    EXPECT_EQ(events.First(), UpdaterEvent::NotNow);
    const std::string log = ReadBytes(editor.Updates + L"\\update log.txt").value_or("");
    EXPECT_NE(log.find("download: stopped by the user"), std::string::npos) << log;
    EXPECT_TRUE(std::filesystem::exists(editor.Updates + L"\\tavoPDF-2.0.msi.partial"));
    EndStandIns(editor.Install);
}

// An editor that gives its main window gets every callback on that window's
// thread, from the offer to the exit, while its own message loop runs; the
// stock windows, answered here from the keyboard, are owned by that window.
TEST(UpdaterOwnerWindow, RunsTheEditorsCallbacksOnItsWindowsThread) {
    Editor editor = StartEditor(L"stable.json");
    const HWND window = CreateWindowExW(0, L"STATIC", L"Tavo PDF", WS_OVERLAPPED, 0, 0, 100, 100,
                                        nullptr, nullptr, nullptr, nullptr);
    editor.Settings.OwnerWindow = window;
    std::wstring elsewhere;
    std::thread([&] { elsewhere = CheckUpdaterSettings(editor.Settings); }).join();
    EXPECT_EQ(elsewhere, L"owner window: not a window of the thread that makes the updater");
    std::set<DWORD> threads;
    Events events;
    UpdaterCallbacks callbacks = StockUpdaterDialogs(
        [] { return true; }, [&editor] { EndProcess(editor.User), PostQuitMessage(0); });
    const auto onThread = [&threads](auto callback) {
        return [&threads, callback](auto... arguments) {
            threads.insert(GetCurrentThreadId());
            return callback(arguments...);
        };
    };
    callbacks.AskToInstall = onThread(callbacks.AskToInstall);
    callbacks.CloseDocuments = onThread(callbacks.CloseDocuments);
    callbacks.ExitNow = onThread(callbacks.ExitNow);
    callbacks.OnEvent = onThread(
        [&events, stock = callbacks.OnEvent](UpdaterEvent event, const std::wstring& text) {
            stock(event, text);
            events.Add(event);
        });
    std::vector<HWND> owners;
    std::thread user([&owners] {
        const HWND offer = AwaitWindow(GetCurrentProcessId(), StockClass, L"Tavo PDF update");
        owners.push_back(GetWindow(offer, GW_OWNER));
        PressKey(offer, VK_RETURN);
        const HWND box = AwaitWindow(GetCurrentProcessId(), L"#32770", L"Tavo PDF update");
        owners.push_back(GetWindow(box, GW_OWNER));
        PostMessageW(box, WM_COMMAND, IDYES, 0);
    });
    {
        Updater updater(editor.Settings, callbacks);
        updater.CheckNow();
        SetTimer(nullptr, 0, 120000, nullptr); // a row that goes wrong ends all the same
        for (MSG message;
             GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER;) {
            DispatchMessageW(&message);
        }
    }
    user.join();
    EXPECT_EQ(threads, std::set<DWORD>{GetCurrentThreadId()});
    EXPECT_EQ(owners, (std::vector<HWND>{window, window}));
    EXPECT_EQ(events.First(), UpdaterEvent::Committed);
    StartedProcess helper = FindProcess(editor.Updates + L"\\tavoPDFUpdateHelper.exe");
    EXPECT_EQ(AwaitHelperEnd(helper.Process, helper.ProcessId, 120000).ExitCode, 0u);
    DestroyWindow(window);
    EndStandIns(editor.Install);
    EndProcess(helper);
}

// An editor in C whose whole update is the C interface's updater goes from
// the feed to the restarted 2.0 editor, which gets its arguments back: with
// its own ask, or with the stock windows, answered here from the keyboard.
// Its command line still carries an earlier update's status argument, naming
// a file elsewhere: nothing to report, and not carried into the restart.
class UpdaterFromC : public testing::TestWithParam<bool> {};

TEST_P(UpdaterFromC, UpdatesAnEditorBuiltInCThroughTheUpdater) {
    const bool stock = GetParam();
    const std::wstring work = MakeWorkFolder(L"c-updater"), install = work + L"\\Tavo PDF";
    const std::wstring editor = install + L"\\tavoPDFEditor.exe", updates = work + L"\\Updates";
    CreateDirectoryW(install.c_str(), nullptr);
    for (const auto& [from, to] :
         {std::pair{FixturesFolder() + L"\\c-updater-editor\\tavoPDFEditor.exe", editor},
          {HelperExecutablePath(), install + L"\\tavoPDFUpdateHelper.exe"},
          {ExecutableFolder() + L"\\editor_update.dll", install + L"\\editor_update.dll"}}) {
        ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << from;
    }
    for (const auto& [name, value] :
         {std::pair{L"TAVO_FEED", Environment(L"TAVO_TEST_WEB") + L"/stable.json"},
          {L"TAVO_FEED_KEY", KeyPin(L"feed-ec")},
          {L"TAVO_PUBLISHER_KEY", KeyPin(L"publisher")},
          {L"TAVO_UPDATES", updates},
          {L"TAVO_STOCK", std::wstring(stock ? L"1" : L"0")}}) {
        SetEnvironmentVariableW(name, value.c_str());
    }
    const std::wstring earlier = work + L"\\update status.txt";
    WriteBytes(earlier, "Installed successfully.");
    StartedProcess cEditor = StartProcess(editor,
                                          L"\"" + editor + L"\" --open \"Q3 report.pdf\" " +
                                              UpdateStatusArgument + L" \"" + earlier + L"\"",
                                          install);
    if (stock) {
        const HWND offer =
            AwaitWindow(cEditor.ProcessId, L"TavoPDFUpdateWindow", L"Tavo PDF update");
        ASSERT_NE(offer, nullptr);
        EXPECT_EQ(ChildText(offer, 10), L"Tavo PDF 2.0 is available; you have 1.0.0.0.");
        PressKey(offer, VK_RETURN);
        const HWND question = AwaitWindow(cEditor.ProcessId, L"#32770", L"Tavo PDF update");
        ASSERT_NE(question, nullptr);
        PostMessageW(question, WM_COMMAND, IDYES, 0);
    }
    DWORD exitCode = 99;
    WaitForSingleObject(cEditor.Process, 120000);
    GetExitCodeProcess(cEditor.Process, &exitCode);
    EXPECT_EQ(exitCode, 0u) << "10 and more: the updater's event";
    std::vector<std::wstring> restarted = RestartedArguments(install, 0);
    ASSERT_FALSE(restarted.empty()) << "the editor was started again";
    const UpdateRestart restart = HandleUpdateRestartOf(restarted, updates);
    EXPECT_EQ(restart.Outcome.Kind, OutcomeKind::Installed) << restart.Outcome.Text;
    EXPECT_EQ(restart.Arguments, (std::vector<std::wstring>{editor, L"--open", L"Q3 report.pdf"}));
    EndStandIns(install);
    EndProcess(cEditor);
}

INSTANTIATE_TEST_SUITE_P(Rows, UpdaterFromC, testing::Values(false, true), [](const auto& info) {
    return std::string(info.param ? "StockDialogs" : "ItsOwnAsk");
});

} // namespace
