#include "tavo/editor_updater.h"

#include "base/handle_owner.h"
#include "base/paths.h"
#include "editor/feed/update_state.h"
#include "editor/handover/helper_launch.h"
#include "editor/updater/editor_calls.h"
#include "editor/updater/status_argument.h"
#include "editor/updater/update_log.h"
#include "editor/updater/update_policy.h"
#include "editor/updater/stock_windows.h"
#include "verify/checksum.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

#include <shellapi.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

namespace tavo {

namespace {

constexpr DWORD ReadyPollMs = 250;
constexpr auto StartDelay = std::chrono::seconds(5);
constexpr DWORD ReadyLimitMs = 120000;

std::int64_t NowSeconds() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<std::int64_t>((ticks - 116444736000000000ull) / 10000000ull);
}

// This process's arguments, as the editor had them before any update.
std::vector<std::wstring> OwnArguments() {
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (split == nullptr) {
        return {};
    }
    std::vector<std::wstring> arguments(split, split + count);
    LocalFree(split);
    TakeStatusArgument(arguments);
    if (!arguments.empty()) {
        arguments.erase(arguments.begin()); // the program itself
    }
    return arguments;
}

// Changes the state file under its lock: read, change, write.
void ChangeState(const std::wstring& path, const std::function<void(UpdateState&)>& change) {
    const UniqueHandle lock = LockUpdateState(path);
    UpdateState state;
    std::wstring problem;
    ReadUpdateState(path, state, problem);
    change(state);
    WriteUpdateState(path, state);
}

// What the hand-over would refuse about this editor, said before anything
// is fetched: its executable, and the helper beside it.
std::wstring CheckEditor(const UpdaterSettings& settings, const std::wstring& helper) {
    const std::wstring editor =
        CheckEditorExecutable(settings.EditorPath, settings.EditorProcessId.has_value());
    if (!editor.empty()) {
        return editor;
    }
    const DWORD attributes = GetFileAttributesW(helper.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return L"helper: no tavoPDFUpdateHelper.exe beside the editor (" + helper + L")";
    }
    return L"";
}

UpdateState ReadState(const std::wstring& path) {
    UpdateState state;
    std::wstring problem;
    ReadUpdateState(path, state, problem);
    return state;
}

} // namespace

// The updater's state and its thread's work.
struct UpdaterCore {
    explicit UpdaterCore(HWND owner) : Calls(owner) {}
    void Prepare();
    void Run();
    void CheckOnce(bool byHand, std::stop_token stop);
    void Offer(const FeedAnswer& answer, bool byHand, std::stop_token stop);
    PackageDownload Download(const PackageOffer& offer, std::stop_token stop);
    void HandOver(const PackageDownload& download, std::stop_token stop);
    void Tell(UpdaterEvent event, const std::wstring& text);
    bool IsStopping();
    // One of the editor's callbacks, where the editor wants it run: its
    // answer, or `otherwise` (logged as `what`) when it threw or the
    // updater stopped first.
    template <typename Answer>
    Answer AskEditor(const std::function<Answer()>& callback, Answer otherwise,
                     const wchar_t* what);

    UpdaterSettings Settings;
    UpdaterCallbacks Callbacks;
    EditorCalls Calls;
    std::wstring Log, StateFile, HelperSource, Channel, OffReason, Problem;
    std::vector<std::wstring> PolicyIgnored;
    bool Forbidden = false, ChannelFixed = false;
    std::mutex Lock;
    std::condition_variable Wake;
    bool ByHandAsked = false, Stopping = false, Ended = false;
    DWORD ThreadId = 0;
    std::stop_source Current; // the check or download in progress
    std::thread Thread;
};

template <typename Answer>
Answer UpdaterCore::AskEditor(const std::function<Answer()>& callback, Answer otherwise,
                              const wchar_t* what) {
    if (!callback) {
        return otherwise;
    }
    // Held by the call: it may finish after this thread has stopped waiting.
    const auto answer = std::make_shared<Answer>(otherwise);
    try {
        if (Calls.Run([answer, callback] { *answer = callback(); })) {
            return *answer;
        }
    } catch (...) {
        AppendUpdateLog(Log, std::wstring(L"the editor's ") + what);
        return otherwise;
    }
    return otherwise;
}

std::wstring CheckUpdaterSettings(const UpdaterSettings& settings) {
    const HWND owner = settings.OwnerWindow;
    if (owner != nullptr && GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) {
        return L"owner window: not a window of the thread that makes the updater";
    }
    UpdaterSettings named = settings;
    if (named.EditorPath.empty()) {
        named.EditorPath = ExecutablePath();
    }
    return CheckEditor(named, ParentFolder(named.EditorPath) + L"\\tavoPDFUpdateHelper.exe");
}

Updater::Updater(UpdaterSettings settings, UpdaterCallbacks callbacks)
    : Core(std::make_shared<UpdaterCore>(settings.OwnerWindow)) {
    UpdaterCore& core = *Core;
    core.Settings = std::move(settings);
    core.Callbacks = std::move(callbacks);
    UpdaterSettings& Settings = core.Settings;
    if (Settings.UpdatesFolder.empty()) {
        Settings.UpdatesFolder = DefaultUpdatesFolder();
    }
    core.Log = Settings.UpdatesFolder + L"\\update log.txt";
    core.StateFile = Settings.UpdatesFolder + L"\\update state.json";
    if (Settings.EditorPath.empty()) {
        Settings.EditorPath = ExecutablePath();
    }
    core.HelperSource = ParentFolder(Settings.EditorPath) + L"\\tavoPDFUpdateHelper.exe";
    Settings.CheckInterval = BoundedCheckInterval(Settings.CheckInterval);
    core.Problem = CheckUpdaterSettings(Settings);
    // The policy now, as the updater starts; the rest of the preparing (the
    // folder, the version resource, the log) on its thread, off the editor's start.
    const UpdatePolicy policy = ReadUpdatePolicy();
    core.Channel = policy.Channel.empty() ? Settings.Channel : policy.Channel;
    core.ChannelFixed = !policy.Channel.empty();
    core.Forbidden = policy.UpdatesForbidden;
    core.PolicyIgnored = policy.Ignored;
    core.OffReason = core.Forbidden              ? L"policy: updates are forbidden"
                     : policy.AutomaticChecksOff ? L"policy: automatic checks are off"
                     : !Settings.AutomaticChecks ? L"settings: automatic checks are off"
                                                 : L"";
    core.Thread = std::thread([shared = Core] { shared->Run(); });
}

Updater::~Updater() {
    {
        const std::lock_guard<std::mutex> holding(Core->Lock);
        Core->Stopping = true;
        Core->Current.request_stop(); // the check or download in progress, if any
    }
    Core->Wake.notify_all();
    Core->Calls.Stop();
    // Destroyed from one of its own callbacks (ExitNow, say): the thread,
    // which holds the state too, ends by itself once that callback returns.
    if (Core->Thread.get_id() == std::this_thread::get_id()) {
        Core->Thread.detach();
        return;
    }
    // A stock window open, or about to open, is answered as Later / No.
    std::unique_lock<std::mutex> holding(Core->Lock);
    while (!Core->Ended) {
        const DWORD threads[] = {Core->ThreadId, Core->Calls.OwnerThread()};
        holding.unlock();
        for (const DWORD thread : threads) {
            CloseStockWindows(thread);
        }
        holding.lock();
        Core->Wake.wait_for(holding, std::chrono::milliseconds(50), [&] { return Core->Ended; });
    }
    holding.unlock();
    Core->Thread.join();
}

void Updater::CheckNow() {
    {
        const std::lock_guard<std::mutex> holding(Core->Lock);
        Core->ByHandAsked = true;
    }
    Core->Wake.notify_all();
}

void Updater::StopCurrent() {
    const std::lock_guard<std::mutex> holding(Core->Lock);
    Core->Current.request_stop();
}

std::wstring Updater::AutomaticChecksOff() const {
    return Core->OffReason;
}

std::wstring Updater::CannotUpdate() const {
    return Core->Problem;
}

bool UpdaterCore::IsStopping() {
    const std::lock_guard<std::mutex> holding(Lock);
    return Stopping;
}

void UpdaterCore::Tell(UpdaterEvent event, const std::wstring& text) {
    // Nothing more for an editor that is ending the updater.
    if (IsStopping()) {
        return;
    }
    const std::function<void(UpdaterEvent, const std::wstring&)>& told = Callbacks.OnEvent;
    AskEditor<bool>(
        told ? std::function<bool()>([told, event, text] { return told(event, text), true; })
             : std::function<bool()>(),
        false, L"event callback threw; ignored");
}

void UpdaterCore::Prepare() {
    std::error_code error;
    std::filesystem::create_directories(Settings.UpdatesFolder, error);
    if (Settings.RunningVersion.empty()) {
        Settings.RunningVersion = ReadFileVersion(Settings.EditorPath);
    }
    AppendUpdateLog(Log, L"updater: version " + Settings.RunningVersion + L", channel " + Channel +
                             (ChannelFixed ? L" (fixed by policy)" : L"") +
                             (OffReason.empty() ? L", automatic checks" : L"; " + OffReason));
    for (const std::wstring& ignored : PolicyIgnored) {
        AppendUpdateLog(Log, L"policy: " + ignored + L"; ignored");
    }
    if (!Problem.empty()) {
        AppendUpdateLog(Log, L"updater: cannot update this editor: " + Problem);
    }
    // A version skipped once is no longer the user's concern once it, or a
    // later one, runs.
    const UpdateState state = ReadState(StateFile);
    if (!state.Skipped.empty() && !IsNewerVersion(state.Skipped, Settings.RunningVersion)) {
        ChangeState(StateFile, [](UpdateState& changed) { changed.Skipped.clear(); });
    }
}

void UpdaterCore::Run() {
    const double jitter = static_cast<double>(GetTickCount64() % 1000) / 1000.0;
    // No automatic check while the editor starts: its start is the user's.
    const auto settled = std::chrono::steady_clock::now() + StartDelay;
    bool prepared = false;
    {
        const std::lock_guard<std::mutex> holding(Lock);
        ThreadId = GetCurrentThreadId();
    }
    // An updater that cannot update says so at once, its log first.
    if (!Problem.empty()) {
        Prepare();
        prepared = true;
        Tell(UpdaterEvent::Failed, Problem);
    }
    for (;;) {
        bool byHand = false;
        std::stop_token current;
        {
            std::unique_lock<std::mutex> holding(Lock);
            const auto woken = [this] { return ByHandAsked || Stopping; };
            // Not even the state file is read while the editor starts.
            Wake.wait_until(holding, settled, woken);
            if (OffReason.empty() && !ByHandAsked && !Stopping) {
                const UpdateState state = ReadState(StateFile);
                const std::int64_t now = NowSeconds();
                const std::int64_t due = NextCheckAt(
                    {state.LastCheck, static_cast<unsigned>(state.Failures), state.RetryAfter},
                    Settings.CheckInterval, jitter, now);
                const auto wait = std::chrono::seconds(due > now ? due - now : 0);
                const auto at = std::chrono::steady_clock::now() + wait;
                Wake.wait_until(holding, at > settled ? at : settled, woken);
            } else {
                Wake.wait(holding, woken);
            }
            if (Stopping) {
                Ended = true;
                Wake.notify_all();
                return;
            }
            byHand = ByHandAsked;
            ByHandAsked = false;
            Current = std::stop_source();
            current = Current.get_token();
        }
        if (!prepared) {
            Prepare();
            prepared = true;
        }
        CheckOnce(byHand, current);
    }
}

void UpdaterCore::CheckOnce(bool byHand, std::stop_token stop) {
    if (!Problem.empty()) {
        return Tell(UpdaterEvent::Failed, Problem);
    }
    if (Forbidden) {
        AppendUpdateLog(Log, L"check by hand refused: " + OffReason);
        return Tell(UpdaterEvent::UpdatesForbidden, OffReason);
    }
    FeedCheck check;
    check.FeedUrl = Settings.FeedUrl;
    check.Channel = Channel;
    check.RunningVersion = Settings.RunningVersion;
    check.FeedKeys = Settings.FeedKeys;
    check.PublisherKeys = Settings.PublisherKeys;
    check.StateFile = StateFile;
    check.ByHand = byHand;
    check.Stop = stop;
    const FeedAnswer answer = CheckForUpdate(check);
    AppendUpdateLog(
        Log, std::wstring(byHand ? L"check by hand: " : L"check: ") + NameOf(answer.Code) + L" " +
                 (answer.Code == FeedCode::Offered ? answer.Offer.Version : answer.Detail));
    if (answer.Code == FeedCode::Stopped) {
        // Stopped by the editor's end: the next start checks when it is due.
        if (IsStopping()) {
            return;
        }
        // Stopped by the editor: "not now", and the next check an interval on.
        ChangeState(StateFile, [&](UpdateState& state) { state.LastCheck = NowSeconds(); });
        return Tell(UpdaterEvent::NotNow, L"stopped");
    }
    const bool failed = answer.Code == FeedCode::NetworkFailed || answer.Code == FeedCode::Busy;
    // The schedule holds a server's Retry-After to an interval at most.
    ChangeState(StateFile, [&](UpdateState& state) {
        state.LastCheck = NowSeconds();
        state.Failures = failed ? state.Failures + 1 : 0;
        state.RetryAfter =
            failed && answer.RetryAfterSeconds > 0 ? state.LastCheck + answer.RetryAfterSeconds : 0;
    });
    switch (answer.Code) {
    case FeedCode::UpToDate:
        return Tell(UpdaterEvent::UpToDate, Settings.RunningVersion);
    case FeedCode::Refused:
        return Tell(UpdaterEvent::Refused, answer.Detail);
    case FeedCode::Offered:
        return Offer(answer, byHand, stop);
    default:
        return Tell(UpdaterEvent::NetworkFailed, answer.Detail);
    }
}

PackageDownload UpdaterCore::Download(const PackageOffer& offer, std::stop_token stop) {
    DownloadOptions options;
    options.Folder = Settings.UpdatesFolder;
    options.InstalledFolder = ParentFolder(Settings.EditorPath);
    options.Stop = stop;
    if (Callbacks.OnProgress) {
        options.OnProgress = [this, told = Callbacks.OnProgress](const DownloadProgress& progress) {
            Calls.Run([told, progress] { told(progress); });
        };
    }
    PackageDownload result;
    result.Code = DownloadCode::Stopped;
    try {
        result = DownloadPackage(offer, options);
        AppendUpdateLog(Log,
                        L"download: " + std::wstring(NameOf(result.Code)) + L" " + result.Detail);
    } catch (const DownloadStoppedByUser&) {
        AppendUpdateLog(Log, L"download: stopped by the user; the partial file is kept");
    } catch (...) {
        AppendUpdateLog(Log, L"download: the editor's progress callback threw; stopped");
    }
    return result;
}

void UpdaterCore::Offer(const FeedAnswer& answer, bool byHand, std::stop_token stop) {
    const PackageOffer& offer = answer.Offer;
    if (!byHand && !ShouldOffer(offer.Version, answer.Critical, ReadState(StateFile).Skipped)) {
        AppendUpdateLog(Log, L"offer: " + offer.Version + L" skipped by the user before");
        return Tell(UpdaterEvent::Skipped, offer.Version);
    }
    PackageDownload downloaded;
    if (Settings.DownloadWithoutAsking) {
        downloaded = Download(offer, stop);
    }
    UpdateOffered offered;
    offered.Version = offer.Version;
    offered.RunningVersion = Settings.RunningVersion;
    offered.Notes = answer.Notes;
    offered.Critical = answer.Critical;
    offered.Downloaded = downloaded.Code == DownloadCode::Downloaded;
    const std::function<UpdateChoice(const UpdateOffered&)>& ask = Callbacks.AskToInstall;
    const UpdateChoice choice = AskEditor<UpdateChoice>(
        ask ? std::function<UpdateChoice()>([ask, offered] { return ask(offered); }) : nullptr,
        UpdateChoice::Later, L"question callback threw; taken as later");
    AppendUpdateLog(Log, L"offer: " + offer.Version +
                             (choice == UpdateChoice::InstallNow ? L", install now"
                              : choice == UpdateChoice::Later    ? L", later"
                              : answer.Critical ? L", skip refused: the release is critical"
                                                : L", skip this version"));
    if (choice == UpdateChoice::SkipThisVersion && !answer.Critical) {
        ChangeState(StateFile, [&](UpdateState& state) { state.Skipped = offer.Version; });
        return Tell(UpdaterEvent::Skipped, offer.Version);
    }
    if (choice != UpdateChoice::InstallNow) {
        return Tell(UpdaterEvent::NotNow, offer.Version);
    }
    if (downloaded.Code != DownloadCode::Downloaded) {
        downloaded = Download(offer, stop);
    }
    if (downloaded.Code == DownloadCode::Downloaded) {
        return HandOver(downloaded, stop);
    }
    const bool later = downloaded.Code == DownloadCode::Stopped || downloaded.RetryMayHelp;
    Tell(later ? UpdaterEvent::NotNow : UpdaterEvent::Failed,
         std::wstring(NameOf(downloaded.Code)) + L" " + downloaded.Detail);
}
void UpdaterCore::HandOver(const PackageDownload& download, std::stop_token stop) {
    // The helper runs from a copy in the updates folder (an installer cannot
    // replace a running program), the same bytes as the installed one, held
    // without write sharing from that comparison until the helper runs.
    const std::wstring helper = Settings.UpdatesFolder + L"\\tavoPDFUpdateHelper.exe";
    CopyFileW(HelperSource.c_str(), helper.c_str(), FALSE);
    const UniqueHandle held = OpenPackageFile(helper);
    const std::wstring copied = PackageChecksum(held.get());
    if (copied.empty() || copied != PackageChecksum(OpenPackageFile(HelperSource).get())) {
        AppendUpdateLog(Log, L"hand-over: no helper copy like " + HelperSource);
        return Tell(UpdaterEvent::Failed, L"helper: cannot be copied from " + HelperSource);
    }
    UpdateOrder order = download.Order;
    order.HelperPath = helper;
    order.StatusFilePath = Settings.UpdatesFolder + L"\\" + UpdateStatusFileName;
    order.EditorArguments = Settings.EditorArguments.value_or(OwnArguments());
    order.EditorArguments.insert(order.EditorArguments.end(),
                                 {UpdateStatusArgument, order.StatusFilePath});
    order.EditorProcessId = Settings.EditorProcessId;
    if (Settings.EditorProcessId) {
        order.EditorPath = Settings.EditorPath;
    }
    UpdateHandoff handoff;
    const HelperStart start = StartUpdateHelper(order, handoff);
    if (!start.Started) {
        const std::wstring why = start.Refusal.empty()
                                     ? L"Windows error " + std::to_wstring(start.WindowsError)
                                     : start.Refusal;
        AppendUpdateLog(Log, L"hand-over: not started: " + why);
        return Tell(UpdaterEvent::Failed, why);
    }
    HelperReadiness ready;
    for (DWORD waited = 0; waited < ReadyLimitMs && !stop.stop_requested(); waited += ReadyPollMs) {
        ready = AwaitHelperReady(handoff, ReadyPollMs);
        if (ready.State != HelperState::StillChecking) {
            break;
        }
    }
    if (ready.State != HelperState::Ready) {
        CancelUpdate(handoff);
        const std::wstring why = ready.State == HelperState::EndedBeforeReady
                                     ? ready.Outcome.Text
                                     : std::wstring(NameOf(ready.State));
        AppendUpdateLog(Log, L"hand-over: the helper is not ready: " + why);
        return Tell(stop.stop_requested() ? UpdaterEvent::NotNow : UpdaterEvent::Failed, why);
    }
    const bool closed = AskEditor<bool>(Callbacks.CloseDocuments, false,
                                        L"close callback threw; taken as declined");
    if (!closed || CommitUpdate(handoff) != CommitResult::Committed) {
        const bool stands = CancelUpdate(handoff) == CancelResult::CommitStands;
        if (!stands) {
            AppendUpdateLog(Log, closed ? L"hand-over: the helper ended before the commit"
                                        : L"hand-over: the editor did not close; not now");
            return Tell(closed ? UpdaterEvent::Failed : UpdaterEvent::NotNow,
                        download.Order.TargetVersion);
        }
    }
    AppendUpdateLog(Log, L"hand-over: committed to " + download.Order.TargetVersion +
                             L"; the editor exits");
    Tell(UpdaterEvent::Committed, download.Order.TargetVersion);
    const std::function<void()>& exitNow = Callbacks.ExitNow;
    AskEditor<bool>(exitNow ? std::function<bool()>([exitNow] { return exitNow(), true; })
                            : nullptr,
                    false, L"exit callback threw; ignored");
}

} // namespace tavo
