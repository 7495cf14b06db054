// The example editor: how an editor keeps itself up to date with the
// editor's library: the start-up call first, then one updater with the stock
// dialogs (src/editor/public/tavo/editor_updater.h). Built at 1.0 and at 2.0.
// It has no document window: what a real editor would show its user it
// writes as a line to the file that TAVO_DEMO_SCREEN names, for scripts/demo
// to print.
//
// tavoPDFEditor.exe [documents...] [--update-feed <feed URL> <feed key> <publisher key>]
//
// --update-feed is where the editor looks for updates, with the pins of the
// feed's and the publisher's keys (an editor has them built in).

#include "base/paths.h"
#include "tavo/editor_updater.h"
#include "verify/file_version.h"

#include <shellapi.h>

#include <algorithm>
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

// scripts/screenshot sets DEMO_HOLD_PROGRESS_FOLDER: once a third is there,
// the download waits until the progress window has been photographed.
void HoldForScreenshot(const DownloadProgress& progress) {
    static bool held = false;
    const wchar_t* folder = _wgetenv(L"DEMO_HOLD_PROGRESS_FOLDER");
    if (folder == nullptr || held || progress.Received * 3 < progress.Total) {
        return;
    }
    held = true;
    const std::wstring shown = std::wstring(folder) + L"\\progress-shown";
    const std::wstring taken = std::wstring(folder) + L"\\screenshot-taken";
    CloseHandle(CreateFileW(shown.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int tries = 0; tries < 600 && GetFileAttributesW(taken.c_str()) == INVALID_FILE_ATTRIBUTES;
         ++tries) {
        Sleep(100);
    }
}

// The restarted editor tells the user how the update went, once.
void ShowUpdateOutcome(const UpdateRestart& restart) {
    const UpdateOutcome& outcome = restart.Outcome;
    switch (outcome.Kind) {
    case OutcomeKind::Installed:
    case OutcomeKind::InstalledRestartAdvised:
    case OutcomeKind::InstalledRestartFailed:
        Show(L"updated: " + outcome.Text);
        break;
    case OutcomeKind::FailedAfterEditorExit: // the helper's dialog has told the user already
        Show(L"(the helper has shown why) the update did not finish: " + outcome.Text);
        break;
    default:
        Show(L"the update was not installed: " + outcome.Text + L" " + restart.StatusFile);
    }
}

const wchar_t* Words(UpdaterEvent event) {
    const wchar_t* const words[] = {L"up to date", L"refused", L"network failed", L"skipped",
                                    L"not now",    L"failed",  L"committed",      L"forbidden"};
    return words[static_cast<int>(event)];
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // First thing: an update before this start, and the editor's own arguments.
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    const UpdateRestart restart = HandleUpdateRestart(count, split);
    LocalFree(split);
    std::wstring folder(32768, L'\0');
    folder.resize(GetCurrentDirectoryW(32768, folder.data()));
    Show(L"started in " + folder + L", command line: " + GetCommandLineW());
    for (size_t index = 1; index < restart.Arguments.size(); ++index) {
        Show(L"    argument: [" + restart.Arguments[index] + L"]");
    }
    if (restart.AfterUpdate) {
        ShowUpdateOutcome(restart);
    }
    const std::vector<std::wstring>& arguments = restart.Arguments;
    const auto feed = std::find(arguments.begin(), arguments.end(), L"--update-feed");
    if (feed == arguments.end() || arguments.end() - feed < 4) {
        Show(L"runs on as the user's editor");
        Sleep(300000);
        return 0;
    }
    // The updater, with the stock dialogs around the editor's own "save and
    // close" and "exit".
    const HANDLE exit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    UpdaterSettings settings;
    settings.FeedUrl = feed[1];
    settings.FeedKeys = {feed[2]};
    settings.PublisherKeys = {feed[3]};
    UpdaterCallbacks callbacks = StockUpdaterDialogs(
        [] {
            Show(L"saving the user's work and closing the documents");
            return true;
        },
        [exit] { SetEvent(exit); });
    callbacks.AskToInstall = [ask = callbacks.AskToInstall](const UpdateOffered& offer) {
        Show(L"the updater offers " + offer.Version + L" (\"" + offer.Notes + L"\")");
        const UpdateChoice choice = ask(offer);
        Show(choice == UpdateChoice::InstallNow ? L"the user chose: install now"
                                                : L"the user chose: not now");
        return choice;
    };
    callbacks.OnProgress = [progress = callbacks.OnProgress](const DownloadProgress& done) {
        progress(done);
        HoldForScreenshot(done);
    };
    callbacks.OnEvent = [event = callbacks.OnEvent](UpdaterEvent what, const std::wstring& text) {
        event(what, text);
        Show(std::wstring(L"updater: ") + Words(what) + L" " + text);
    };
    {
        Updater updater(settings, std::move(callbacks));
        Show(L"checks for updates in the background (" +
             (updater.AutomaticChecksOff().empty() ? L"automatic checks on"
                                                   : updater.AutomaticChecksOff()) +
             L")");
        // The user's "Check for updates" (a day has not passed since the last check).
        if (std::find(arguments.begin(), arguments.end(), L"--check-now") != arguments.end()) {
            Show(L"the user asks: check for updates now");
            updater.CheckNow();
        }
        if (WaitForSingleObject(exit, 300000) == WAIT_OBJECT_0) {
            Show(L"exits so that the update can be installed");
            return 0; // the updater's thread has returned from its last call
        }
    }
    Show(L"runs on as the user's editor");
    return 0;
}
