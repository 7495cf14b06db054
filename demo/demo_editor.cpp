// The example editor: how an editor updates itself through the update helper
// with the editor's library (src/editor/editor_update.h). Built at 1.0 and at
// 2.0. It has no window: what a real editor would show its user it writes as
// a line to the file that TAVO_DEMO_SCREEN names, for scripts/demo to print.
//
// tavoPDFEditor.exe [documents...]
//     [--update-feed <feed URL> <feed key> <publisher key>]
//     [--update-status <status file>]
//
// --update-feed is where the editor looks for updates, with the pins of the
// feed's and the publisher's keys (an editor has them built in): the editor
// checks the signed feed, downloads what it offers with a progress window,
// then hands it over;
// --update-status is what the editor asks the helper to restart it with, so
// that the restarted editor can tell the user how the update went.

#include "base/paths.h"
#include "download_window.h"
#include "tavo/editor_update.h"
#include "verify/file_version.h"

#include <shellapi.h>

#include <cstdio>
#include <filesystem>

using namespace tavo;

namespace {

void Show(const std::wstring& text) {
    static const std::wstring version = ReadFileVersion(ExecutablePath());
    const std::wstring line = L"[editor " + version + L"] " + text + L"\n";
    std::string utf8(line.size() * 4, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                    utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr));
    const wchar_t* screen = _wgetenv(L"TAVO_DEMO_SCREEN");
    FILE* file = screen != nullptr ? _wfopen(screen, L"ab") : nullptr;
    if (file != nullptr) {
        std::fwrite(utf8.data(), 1, utf8.size(), file);
        std::fclose(file);
    }
}

// The restarted editor tells the user how the update went, once.
void ShowUpdateOutcome(const std::wstring& statusFile) {
    const UpdateOutcome outcome = ReadUpdateOutcome(statusFile);
    switch (outcome.Kind) {
    case OutcomeKind::Installed:
        return Show(L"updated: " + outcome.Text);
    case OutcomeKind::InstalledRestartAdvised:
        return Show(L"updated; Windows asks for a restart to finish: " + outcome.Text);
    case OutcomeKind::RefusedBeforeEditorExit:
    case OutcomeKind::UnexpectedError:
        return Show(L"the update was not installed: " + outcome.Text);
    case OutcomeKind::InstalledRestartFailed:
        // Updated; the helper's dialog said its first restart failed, and started this one.
        return Show(L"updated (the helper has shown that its first restart failed): " +
                    outcome.Text);
    case OutcomeKind::FailedAfterEditorExit:
        // The helper's dialog has told the user already: no second dialog.
        return Show(L"(the helper has shown why) the update did not finish: " + outcome.Text);
    case OutcomeKind::NothingWritten:
    case OutcomeKind::Unreadable:
    case OutcomeKind::NotAnOutcome:
        return Show(L"cannot tell how the update went: the status file holds no outcome");
    }
}

// Hands the update over to the helper; true when the editor must exit now.
bool HandOverUpdate(const wchar_t* const* feed, std::vector<std::wstring> documents) {
    // A copy outside the install folder: the installer may replace the one there.
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(GetTempPathW(MAX_PATH + 1, temp.data()));
    const std::wstring helper = temp + L"tavoPDFUpdateHelper.exe";
    CopyFileW((ParentFolder(ExecutablePath()) + L"\\tavoPDFUpdateHelper.exe").c_str(),
              helper.c_str(), FALSE);

    // The user's own updates folder; a download stopped earlier goes on there.
    const std::wstring updates = std::wstring(_wgetenv(L"LOCALAPPDATA")) + L"\\Tavo PDF\\Updates";
    std::error_code error;
    std::filesystem::create_directories(updates, error);
    FeedCheck check;
    check.FeedUrl = feed[0];
    check.Channel = L"stable";
    check.RunningVersion = ReadFileVersion(ExecutablePath());
    check.FeedKeys = {feed[1]};
    check.PublisherKeys = {feed[2]};
    check.StateFile = updates + L"\\update state.json";
    const FeedAnswer answer = CheckForUpdate(check);
    Show(L"checked " + check.FeedUrl + L": " + NameOf(answer.Code) + L" " + answer.Detail);
    if (answer.Code != FeedCode::Offered) {
        return false;
    }
    Show(L"the feed offers " + answer.Offer.Version + L" (\"" + answer.Notes +
         L"\"); downloading " + answer.Offer.Url + L" into " + updates);
    const PackageDownload download = DownloadWithProgressWindow(answer.Offer, updates);
    if (download.Code != DownloadCode::Downloaded) {
        Show(L"no update now: " + std::wstring(NameOf(download.Code)) + L" " + download.Detail);
        return false;
    }
    Show(L"downloaded and verified: " + download.Order.PackagePath);

    UpdateOrder order = download.Order;
    order.HelperPath = helper;
    order.StatusFilePath = ParentFolder(order.PackagePath) + L"\\update status.txt";
    order.EditorArguments = std::move(documents);
    order.EditorArguments.insert(order.EditorArguments.end(),
                                 {L"--update-status", order.StatusFilePath});

    UpdateHandoff handoff;
    const HelperStart start = StartUpdateHelper(order, handoff);
    if (!start.Started) {
        Show(L"cannot start the update: " +
             (start.Refusal.empty() ? L"Windows error " + std::to_wstring(start.WindowsError)
                                    : start.Refusal));
        return false;
    }
    Show(L"started the update helper; it verifies " + order.PackagePath);
    const HelperReadiness readiness = AwaitHelperReady(handoff, 60000);
    if (readiness.State != HelperState::Ready) {
        CancelUpdate(handoff);
        Show(L"no update now: " +
             (readiness.State == HelperState::EndedBeforeReady
                  ? L"the helper ended with " + std::to_wstring(readiness.ExitCode) + L": " +
                        readiness.Outcome.Text
                  : std::wstring(L"the helper was not ready in time")));
        return false;
    }
    Show(L"the helper is ready; saving the user's work and closing the documents");
    if (CommitUpdate(handoff) != CommitResult::Committed) {
        CancelUpdate(handoff);
        Show(L"the helper is gone; no update now");
        return false;
    }
    Show(L"committed; exiting so that the update can be installed");
    return true;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring folder(32768, L'\0');
    folder.resize(GetCurrentDirectoryW(32768, folder.data()));
    Show(L"started in " + folder + L", command line: " + GetCommandLineW());

    std::vector<std::wstring> documents;
    const wchar_t* const* feed = nullptr;
    std::wstring statusFile;
    for (int index = 1; index < count; ++index) {
        Show(L"    argument: [" + std::wstring(arguments[index]) + L"]");
    }
    for (int index = 1; index < count; ++index) {
        const std::wstring argument = arguments[index];
        if (argument == L"--update-feed" && index + 3 < count) {
            feed = arguments + index + 1;
            index += 3;
        } else if (argument == L"--update-status" && index + 1 < count) {
            statusFile = arguments[++index];
        } else {
            documents.push_back(argument);
        }
    }
    if (!statusFile.empty()) {
        ShowUpdateOutcome(statusFile);
    }
    if (feed != nullptr && HandOverUpdate(feed, documents)) {
        LocalFree(arguments);
        return 0;
    }
    LocalFree(arguments);
    // An editor runs until its user closes it; this one for five minutes at most.
    Show(L"runs on as the user's editor");
    Sleep(300000);
    return 0;
}
