#pragma once

// The editor's half of an update: what the editor links to hand an update
// over to tavoPDFUpdateHelper.exe and to learn afterwards how it went.
//
//   1. StartUpdateHelper: checks the order with the helper's own rules,
//      creates the three handoff events and starts the helper.
//   2. AwaitHelperReady: the helper verifies the package while the editor
//      runs on; this may take seconds for a large package.
//   3. Save the user's work and close the documents, then CommitUpdate and
//      exit at once: the helper waits 120 s for the editor's process to end
//      and then gives up. Or CancelUpdate (also when the user declines to
//      save), and keep running. Only CommitResult::Committed, or
//      CancelResult::CommitStands, means exit.
//   4. The helper installs, then starts the editor again with the order's
//      EditorArguments; the restarted editor calls ReadUpdateOutcome on the
//      status file (pass its path among those arguments).
//
// Every failure comes back as a result; nothing here throws but the
// standard library's own std::bad_alloc. Linked by the editor, never by the
// helper. Editors in other languages, or built with another compiler, use
// the C interface over the same code: tavo/editor_update_c.h.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace tavo {

enum class PackageFormat { Msi, Exe };

// Closes a kernel handle unless it is null or INVALID_HANDLE_VALUE.
inline void CloseOwnedHandle(HANDLE handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
}
// A kernel handle's one owner: closed exactly once, when the owner goes.
using UniqueHandle = std::unique_ptr<void, void (*)(HANDLE)>;

// What the editor's download manifest says of the update, and how to
// start the editor again.
struct UpdateOrder {
    // The helper's exe. Run a copy outside the install folder (a path inside
    // it is refused): an installer cannot replace a program that is running.
    std::wstring HelperPath;
    std::wstring PackagePath;
    std::wstring PackageSha256; // 64 hexadecimal digits, any letter case
    PackageFormat PackageKind = PackageFormat::Msi;
    std::wstring TargetVersion; // the package's version, such as 2.0 or 2.0.1.7
    // Where the helper writes its one-line outcome. Its folder must exist; a
    // file there is removed before the start (an old text would be read as
    // this attempt's outcome), so it must not be the package.
    std::wstring StatusFilePath;
    // The restarted editor's arguments, passed back exactly.
    std::vector<std::wstring> EditorArguments;
    // The editor that exits for the update; unset: this process. A process
    // id needs its EditorPath too.
    std::optional<DWORD> EditorProcessId;
    std::optional<std::wstring> EditorPath;
    // The publisher's signing keys: SHA-256 of each signing certificate's
    // SubjectPublicKeyInfo, 64 hexadecimal digits (an old and a renewed one,
    // say). Given, the package must carry an Authenticode signature by one of
    // them whose chain is trusted for code signing, or it is refused before
    // anything starts. Empty: the SHA-256 alone vouches for the package.
    std::vector<std::wstring> PublisherKeys;
};

// One update attempt: the three events, named after Name, and the helper
// once it runs. Closed when the record goes; the helper holds its own.
struct UpdateHandoff {
    std::wstring Name;
    UniqueHandle Ready{nullptr, &CloseOwnedHandle};
    UniqueHandle Commit{nullptr, &CloseOwnedHandle};
    UniqueHandle Cancel{nullptr, &CloseOwnedHandle};
    UniqueHandle Helper{nullptr, &CloseOwnedHandle};
    // The package whose signature was checked, held with read sharing only
    // until the helper, which holds it from its checksum on, is ready or has
    // ended: nobody can swap the bytes in between.
    UniqueHandle Package{nullptr, &CloseOwnedHandle};
    DWORD HelperProcessId = 0;
    std::wstring StatusFilePath;
    // Set by CancelUpdate, also before the start: the user's "not now"
    // stands, and the record starts and commits nothing.
    bool Cancelled = false;
};

// Creates the events under a name no other attempt has: manual reset, not
// set. 0, or the Windows error. StartUpdateHelper does this itself when the
// record has no events yet.
DWORD CreateUpdateHandoff(UpdateHandoff& handoff);

// Empty when the order keeps every rule the helper checks, and the library's
// own (an existing status folder, a status file that is not the package, a
// helper outside the install folder, no NUL character, a process id with its
// editor path); otherwise the argument and the rule it breaks, such as
// "status file: not an absolute path". handoffName is the name the helper
// will be given.
std::wstring CheckUpdateOrder(const UpdateOrder& order, const std::wstring& handoffName);

struct HelperStart {
    bool Started = false;
    std::wstring Refusal;   // the order's broken rule; then nothing was done
    DWORD WindowsError = 0; // why a good order did not start
};

// Checks the order, creates the handoff unless the record has one, removes
// an old status file and starts the helper: windowless as it is, without a
// busy cursor, in its own folder, inheriting no handle, and out of the
// editor's job object where the job allows it. An editor in a job that ends
// its processes when it closes and lets none out is refused: the helper
// would end with the editor. A record serves one attempt: one whose helper
// was started, or that was cancelled, is refused.
HelperStart StartUpdateHelper(const UpdateOrder& order, UpdateHandoff& handoff);

enum class OutcomeKind {
    Installed,               // the update is installed and the editor runs again
    InstalledRestartAdvised, // installed; Windows asks for a restart to finish
    InstalledRestartFailed,  // installed; the helper's dialog has told the user that its
                             // first restart failed, and started this editor
    RefusedBeforeEditorExit, // nothing installed; the editor was not asked to exit
    FailedAfterEditorExit,   // the user has seen the helper's dialog already
    UnexpectedError,         // the helper ended on an error it did not expect
    NothingWritten,          // no status file: a refused command line, or no commit
    Unreadable,              // a status file that cannot be opened or read
    NotAnOutcome,            // bytes that are no outcome text of the helper's
};

struct UpdateOutcome {
    OutcomeKind Kind = OutcomeKind::NothingWritten;
    std::wstring Text; // the outcome text as written; empty for the last three
};

// What the helper wrote, judged against its own table of outcomes.
UpdateOutcome ReadUpdateOutcome(const std::wstring& statusFilePath);

enum class HelperState {
    Ready,            // the package is verified; commit or cancel now
    EndedBeforeReady, // the helper refused: ExitCode and Outcome say why
    StillChecking,    // the limit passed; wait again, or cancel
    WaitFailed,       // WindowsError says why
};

struct HelperReadiness {
    HelperState State = HelperState::WaitFailed;
    DWORD ExitCode = 0;
    UpdateOutcome Outcome;
    DWORD WindowsError = 0;
};

// Once the helper is ready or has ended, the package is let go.
HelperReadiness AwaitHelperReady(UpdateHandoff& handoff, DWORD limitMs);

enum class CommitResult {
    Committed,   // exit now: the helper installs once the editor has ended
    NotReady,    // the helper has not said it is ready: do not exit
    HelperEnded, // nobody would install or restart the editor: do not exit
    Cancelled,   // the attempt was cancelled: do not exit
    Failed,      // the commit event could not be set: do not exit
};

// Lets the helper bring its elevation prompt and dialogs to the front, then
// tells it that the editor exits. Only Committed means the editor may exit;
// after a cancel nothing is committed.
CommitResult CommitUpdate(const UpdateHandoff& handoff);

enum class CancelResult {
    Cancelled,    // the helper has ended and installs nothing: keep running
    CommitStands, // committed already: the helper waits for the editor to exit, so exit
    Failed,       // the helper could not be ended: keep running, commit nothing
};

// Tells the helper that the editor keeps running, and returns once the
// helper has ended (within about two seconds; a helper still checking the
// package is ended), so that it cannot write into a later attempt's status
// file. A commit made earlier stands.
CancelResult CancelUpdate(UpdateHandoff& handoff);

// Threads: StartUpdateHelper, then AwaitHelperReady, on one thread at a time.
// CommitUpdate and CancelUpdate may be called from any thread at any time,
// also while another thread is inside StartUpdateHelper or AwaitHelperReady:
// whichever decides first stands. ReadUpdateOutcome touches no record. The
// record must outlive every call on it.

// A file published beside the package, as the signed feed names it.
struct PublishedFile {
    std::wstring Url; // https:// only; empty: none published
    std::uint64_t Size = 0;
    std::wstring Sha256;
};

// An update as the editor's feed offers it: where to fetch it and what it
// must be. An editor with a feed of its own fills one by hand.
struct PackageOffer {
    std::wstring Url;       // https:// only
    std::uint64_t Size = 0; // bytes, 1 to 2 GiB: the helper takes no more
    std::wstring Sha256;    // 64 hexadecimal digits
    PackageFormat Kind = PackageFormat::Msi;
    std::wstring Version;                    // the package's version, such as 2.0
    std::vector<std::wstring> PublisherKeys; // as UpdateOrder::PublisherKeys
    // The package's block index and compressed copy (<package>.blocks and
    // .gz, from the release tool): with an index, the package is first built
    // from what the machine has and only the rest is fetched.
    PublishedFile Blocks = {};
    PublishedFile Pieces = {};
};

// While the package is built from what the machine has, Received and Total
// count the bytes to fetch, not the package's.
struct DownloadProgress {
    std::uint64_t Received = 0; // bytes on disk, those of an earlier attempt included
    std::uint64_t Total = 0;    // the offer's size
    double BytesPerSecond = 0;  // over this attempt so far
};

struct DownloadOptions {
    // The editor's per-user updates folder; it must exist. Holds
    // <name>.partial and its validator while a download is unfinished.
    std::wstring Folder;
    // No byte (or no answer) for this long ends the attempt; 1 to 600000.
    DWORD StallLimitMs = 30000;
    // Called on the download's thread, at most about ten times a second. An
    // exception it throws leaves DownloadPackage as thrown, after the
    // download's own thread has ended and with the partial file kept.
    std::function<void(const DownloadProgress&)> OnProgress;
    // A stop asked from any thread ends the attempt within a second, in any
    // phase (connecting, waiting for the server, receiving), the partial
    // file kept.
    std::stop_token Stop;
    // The running editor's folder: its files, read only, and the package
    // kept in <Folder>\base after the last good update may make up much of
    // an offer that has a block index. Empty: this process's folder.
    std::wstring InstalledFolder = {};
};

enum class DownloadCode {
    Downloaded,         // verified and in place: Order is ready for StartUpdateHelper
    OfferRefused,       // the offer itself breaks a rule (Detail names it); nothing fetched
    AlreadyDownloading, // another attempt downloads into this folder now
    NotEnoughSpace,     // nothing written: "download folder: N MB free, M MB needed"
    NetworkFailed,      // no answer, a cut connection, a server error: RetryMayHelp
    Stalled,            // no byte for the stall limit; the partial file is kept
    Stopped,            // stopped as asked; the partial file is kept
    ServerRefused,      // an answer that breaks the offer (status, size, redirect to http)
    CheckFailed,        // size, SHA-256 or signature wrong: the file is removed
    FileFailed,         // the folder or a file in it could not be written
};

struct PackageDownload {
    DownloadCode Code = DownloadCode::FileFailed;
    std::wstring Detail;       // what failed, in words; empty when nothing to add
    bool RetryMayHelp = false; // the same offer may succeed later
    // With Downloaded: the package fields of the order (path, SHA-256, kind,
    // version, publisher keys); the editor adds its own.
    UpdateOrder Order;
};

// Downloads the offer into the folder over HTTPS with the machine's proxy
// settings and trust store, resuming a partial file of an earlier attempt
// when the server's validator still matches; a file already there whole and
// right is not fetched again. The bytes are hashed as they arrive; only when
// the size, the SHA-256 and (with publisher keys) the signature hold is the
// file given its final name. Every failure is a result; only an exception of
// OnProgress, or std::bad_alloc, reaches the caller as one.
PackageDownload DownloadPackage(const PackageOffer& offer, const DownloadOptions& options);

// Where and how the editor asks whether there is an update: a signed feed
// per channel, over HTTPS, judged by the helper's own version comparison.
struct FeedCheck {
    std::wstring FeedUrl; // https:// only; the signature is FeedUrl + ".sig"
    std::wstring Channel; // "stable", say: a feed of another channel is refused
    std::wstring RunningVersion;
    std::vector<std::wstring> FeedKeys;      // pins of the feed's signing keys, as PublisherKeys
    std::vector<std::wstring> PublisherKeys; // go into the offer: the package's signer
    // Per user: the install id (the rollout's bucket) and the highest sequence
    // seen on each channel. Its folder must exist.
    std::wstring StateFile;
    bool ByHand = false;        // the user asked: the staged rollout does not hold it back
    DWORD StallLimitMs = 30000; // as DownloadOptions::StallLimitMs
    std::stop_token Stop{};     // a stop from any thread ends the check within a second
};

enum class FeedCode {
    UpToDate,      // nothing newer that this version may take now
    Offered,       // Offer: the newest release this version may update to
    Refused,       // the feed cannot be trusted or read, or the check breaks a rule: Detail
    NetworkFailed, // RetryMayHelp, and RetryAfterSeconds when the server said
    Stopped,       // stopped as asked
    Busy,          // another check holds the state file: RetryMayHelp
};

struct FeedAnswer {
    FeedCode Code = FeedCode::NetworkFailed;
    std::wstring Detail;
    bool RetryMayHelp = false;
    DWORD RetryAfterSeconds = 0; // 0: the server did not say
    PackageOffer Offer;          // with Offered: for DownloadPackage
    bool Critical = false;
    std::wstring Notes;
    std::wstring StateProblem; // the state file could not be read and was replaced
};

// Fetches the feed and its signature (at most 1 MiB each), checks the
// signature over the feed's exact bytes against the pins, then the product
// ("Tavo PDF"), the channel, the expiry and the sequence (never below one
// seen before, which is kept), and offers the newest release newer than the
// running version whose minimumVersion it meets, within its rollout (or
// critical, or asked by hand), and, with publisher keys, signed by one of them.
// The state file is held by one check at a time, from its read to its write.
FeedAnswer CheckForUpdate(const FeedCheck& check);

// Each result in a few words, for a log: "ready", "committed",
// "installed, restart failed", ...
const wchar_t* NameOf(HelperState state);
const wchar_t* NameOf(CommitResult result);
const wchar_t* NameOf(CancelResult result);
const wchar_t* NameOf(OutcomeKind kind);
const wchar_t* NameOf(DownloadCode code);
const wchar_t* NameOf(FeedCode code);

} // namespace tavo
