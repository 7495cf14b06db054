#pragma once

// One object that keeps the editor up to date: it checks the signed feed on a
// schedule (or when asked), asks the user, downloads, hands the update to the
// helper once the editor's documents are closed, and, in the restarted editor,
// reports how it went and cleans up. Built on tavo/editor_update.h, whose
// parts stay there for editors that need them one by one.
//
//   int wmain(int count, wchar_t** arguments) {
//       const tavo::UpdateRestart restart = tavo::HandleUpdateRestart(count, arguments);
//       // restart.Arguments: the editor's own; restart.Outcome: how an update went
//       tavo::UpdaterSettings settings;
//       settings.FeedUrl = L"https://updates.example.com/tavo/stable.json";
//       settings.FeedKeys = {FeedKey};
//       settings.PublisherKeys = {PublisherKey};
//       tavo::Updater updater(settings, callbacks); // checks in the background
//       ...
//   }

#include "tavo/editor_update.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavo {

// The editor's own arguments back, and how the update before this start went.
struct UpdateRestart {
    // Whether this start is the helper's restart after an update: the
    // command line ended with the argument the updater adds at hand-over,
    // naming the updates folder's own status file. Any other file there is
    // nothing to report: it is not opened, and the two arguments still go.
    bool AfterUpdate = false;
    UpdateOutcome Outcome;               // NothingWritten when not AfterUpdate
    std::vector<std::wstring> Arguments; // the editor's own, element 0 (its path) included
    // Kept after a failure, for the user or support: the helper's status file
    // and, for an MSI, the installer's log; empty when removed or none.
    std::wstring StatusFile;
    std::wstring InstallerLog;
};

// First thing in the editor's main: without the updater's argument it
// returns at once with the arguments as given. With it, it reads the
// outcome, removes the updater's own arguments and the update's files from the
// updates folder (the package, partial files, the helper's copy; the status
// file and log too unless the update failed), and notes the outcome in the log.
// After a good update the package installed is kept instead, alone in
// "<updates folder>\base", as the next update's base.
// Only "<updates folder>\update status.txt" is read (empty: the default
// folder, as UpdaterSettings::UpdatesFolder), and only when it is a regular
// file; a null `arguments` counts as none.
UpdateRestart HandleUpdateRestart(int count, const wchar_t* const* arguments,
                                  const std::wstring& updatesFolder = std::wstring());

// The updates folder the updater uses when the settings name none:
// %LOCALAPPDATA%\Tavo PDF\Updates.
std::wstring DefaultUpdatesFolder();

// The argument the updater adds after the editor's own, followed by the
// status file's path.
inline constexpr wchar_t UpdateStatusArgument[] = L"--tavo-update-status";

struct UpdaterSettings {
    std::wstring FeedUrl; // https://; its signature at FeedUrl + ".sig"
    std::wstring Channel = L"stable";
    std::vector<std::wstring> FeedKeys;      // pins of the feed's signing keys
    std::vector<std::wstring> PublisherKeys; // pins of the packages' signing keys
    // Optional.
    std::chrono::seconds CheckInterval = std::chrono::hours(24); // 1 hour to 365 days
    std::wstring UpdatesFolder; // empty: %LOCALAPPDATA%\Tavo PDF\Updates, made when missing
    bool AutomaticChecks = true;
    bool DownloadWithoutAsking = false; // download first, then ask to install
    std::wstring RunningVersion;        // empty: the editor executable's file version
    // The editor that exits for the update; unset: this process, and the
    // helper beside its executable. A launcher names its editor here.
    std::optional<DWORD> EditorProcessId;
    std::wstring EditorPath;
    // The restarted editor's arguments; unset: this process's own (without
    // an earlier update's status argument).
    std::optional<std::vector<std::wstring>> EditorArguments;
    // The editor's main window, for an editor with a message loop. The
    // updater must then be made on that window's thread; CloseDocuments,
    // ExitNow, OnEvent, AskToInstall and OnProgress run on it (through a
    // message of the updater's own, while the loop runs), and the stock
    // windows are owned by it. The network and the disk stay on the
    // updater's thread. Unset: every callback runs on the updater's thread.
    HWND OwnerWindow = nullptr;
};

// What the user decides about an offered release.
enum class UpdateChoice { InstallNow, Later, SkipThisVersion };

struct UpdateOffered {
    std::wstring Version;
    std::wstring RunningVersion; // "2.0 is available; you have 1.0"
    std::wstring Notes;
    bool Critical = false; // cannot be skipped
    bool Downloaded = false;
};

// What the updater tells the editor, for a status line or a log.
enum class UpdaterEvent {
    UpToDate,         // Text: the running version
    Refused,          // the feed or the package cannot be trusted: Text says why; next interval
    NetworkFailed,    // Text says why; retried with back-off
    Skipped,          // the user skipped this version before: Text
    NotNow,           // the user chose later, stopped, or declined to close: kept for next time
    Failed,           // the update could not be handed over: Text says why
    Committed,        // the editor must exit now (ExitNow follows)
    UpdatesForbidden, // an administrator's policy forbids updates
};

// Thrown by an OnProgress callback when the user stops the download: the
// partial file is kept, the log says the user stopped it, and the event is
// NotNow. Any other exception of the callback stops it too, logged as such.
struct DownloadStoppedByUser {};

// The editor's side. Every callback runs on the updater's thread, or on the
// OwnerWindow's; none may be missing but OnEvent and OnProgress. An exception
// a callback throws is taken as "not now" (or "declined", "later") and
// logged; it never ends the editor. An updater that ends (its destructor)
// while a stock window is open takes that window's answer as Later / No.
struct UpdaterCallbacks {
    // "2.0 is available": install now, later, or skip this version.
    std::function<UpdateChoice(const UpdateOffered&)> AskToInstall;
    std::function<void(const DownloadProgress&)> OnProgress;
    // The helper is ready: save the user's work and close the documents.
    // False (the user declined to save): the editor keeps running, the
    // package is kept for the next time.
    std::function<bool()> CloseDocuments;
    // Committed: the editor must end its process now (the helper waits 120 s).
    std::function<void()> ExitNow;
    std::function<void(UpdaterEvent, const std::wstring&)> OnEvent;
};

// The stock user interface, for an editor that shows no dialogs of its own:
// plain Win32 windows, keyboard usable and per-monitor DPI aware, owned by
// the OwnerWindow when there is one. "2.0 is available; you have 1.0" with the
// notes and Install now / Later / Skip this version (no skip for a critical
// release); a progress window with the time left and a Stop button (Escape
// too; the partial file is kept); and "save your work and restart?" before
// the editor's own closeDocuments.
UpdaterCallbacks StockUpdaterDialogs(std::function<bool()> closeDocuments,
                                     std::function<void()> exitNow);

// The decisions of the schedule, on a clock given in seconds since 1970.
struct UpdateSchedule {
    std::int64_t LastCheck = 0; // 0: never
    unsigned Failures = 0;      // network failures since the last answer
    std::int64_t RetryAfter = 0;
};

// The check interval's bounds: a shorter one is taken as an hour, a longer
// one as 365 days.
inline constexpr std::chrono::hours MinimumCheckInterval{1};
inline constexpr std::chrono::hours MaximumCheckInterval{365 * 24};
std::chrono::seconds BoundedCheckInterval(std::chrono::seconds interval);

// When the next automatic check is due: an interval after the last check;
// after n network failures 60 s * 2^(n-1), jittered down by up to a half
// (jitter 0 to 1), capped at the interval, and never before RetryAfter, which
// itself holds for an interval at most. A last check after `now` (the clock
// was set back) counts as now.
std::int64_t NextCheckAt(const UpdateSchedule& schedule, std::chrono::seconds interval,
                         double jitter, std::int64_t now);

// Whether an offered release is put to the user: not when the user skipped
// this version, unless it is critical.
bool ShouldOffer(const std::wstring& version, bool critical, const std::wstring& skipped);

// What the updater made with these settings would refuse, before it is made
// (Updater::CannotUpdate); empty when nothing.
std::wstring CheckUpdaterSettings(const UpdaterSettings& settings);

// The updater: a thread of its own that checks when due (automatic checks
// on, and allowed by policy; never in the first five seconds, while the
// editor starts) or when asked. Its destructor stops the thread within a
// second, a partial download kept, an open stock window answered Later / No
// (destroyed from one of its own callbacks, it lets the thread end by itself
// once the callback returns). With an OwnerWindow, destroy it on that
// window's thread.
class Updater {
  public:
    Updater(UpdaterSettings settings, UpdaterCallbacks callbacks);
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;
    ~Updater();

    // A check by hand ("Check for updates" in a menu): the staged rollout
    // does not hold it back and a skipped version is offered again. Returns
    // at once; the answer comes through the callbacks.
    void CheckNow();
    // Stops a download or check in progress, keeping the partial file.
    void StopCurrent();
    // Why automatic checks are off, or empty: settings, or an administrator's policy.
    std::wstring AutomaticChecksOff() const;
    // Why this updater cannot update this editor, or empty: what the
    // hand-over would refuse (the editor's name and path, the helper beside
    // it, the owner window), checked as it is made. Said too as a Failed
    // event and in the log; it then checks nothing and downloads nothing.
    std::wstring CannotUpdate() const;

  private:
    // What the updater's thread shares with it; the thread holds it too, so
    // that an updater destroyed from one of its own callbacks stays sound.
    std::shared_ptr<struct UpdaterCore> Core;
};

} // namespace tavo
