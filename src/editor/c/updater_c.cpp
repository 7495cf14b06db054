#include "editor/c/c_interface.h"
#include "tavo/editor_updater.h"

#include <shellapi.h>

#include <memory>

using namespace tavo;

namespace {

// What an updater handle points at: its settings and callbacks until the
// start, then the updater itself.
struct UpdaterHandle {
    UpdaterSettings Settings;
    tavo_updater_ask_t Ask = nullptr;
    tavo_download_progress_t Progress = nullptr;
    tavo_updater_close_t Close = nullptr;
    tavo_updater_exit_t Exit = nullptr;
    tavo_updater_event_t Event = nullptr;
    void* User = nullptr;
    bool Stock = false;
    std::unique_ptr<Updater> Running;
};

struct RestartHandle {
    UpdateRestart Restart;
};

UpdateChoice ChoiceOf(int32_t choice) {
    return choice == TAVO_UPDATE_CHOICE_INSTALL_NOW ? UpdateChoice::InstallNow
           : choice == TAVO_UPDATE_CHOICE_SKIP      ? UpdateChoice::SkipThisVersion
                                                    : UpdateChoice::Later;
}

} // namespace

extern "C" {

tavo_updater_t* tavo_updater_new(void) {
    return new (std::nothrow) UpdaterHandle();
}

void tavo_updater_free(tavo_updater_t* updater) {
    delete static_cast<UpdaterHandle*>(updater);
}

int32_t tavo_updater_set_text(tavo_updater_t* handle, int32_t field, const wchar_t* text) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr || text == nullptr || updater->Running) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        UpdaterSettings& settings = updater->Settings;
        switch (field) {
        case TAVO_UPDATER_FIELD_FEED_URL:
            settings.FeedUrl = text;
            break;
        case TAVO_UPDATER_FIELD_CHANNEL:
            settings.Channel = text;
            break;
        case TAVO_UPDATER_FIELD_FEED_KEY:
            settings.FeedKeys.push_back(text);
            break;
        case TAVO_UPDATER_FIELD_PUBLISHER_KEY:
            settings.PublisherKeys.push_back(text);
            break;
        case TAVO_UPDATER_FIELD_UPDATES_FOLDER:
            settings.UpdatesFolder = text;
            break;
        case TAVO_UPDATER_FIELD_RUNNING_VERSION:
            settings.RunningVersion = text;
            break;
        case TAVO_UPDATER_FIELD_EDITOR_PATH:
            settings.EditorPath = text;
            break;
        case TAVO_UPDATER_FIELD_EDITOR_ARGUMENT:
            settings.EditorArguments =
                settings.EditorArguments.value_or(std::vector<std::wstring>());
            settings.EditorArguments->push_back(text);
            break;
        default:
            return TAVO_UPDATE_INVALID_ARGUMENT;
        }
        return TAVO_UPDATE_OK;
    });
}

int32_t tavo_updater_set_number(tavo_updater_t* handle, int32_t which, uint32_t value) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr || updater->Running) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    UpdaterSettings& settings = updater->Settings;
    switch (which) {
    case TAVO_UPDATER_NUMBER_INTERVAL_HOURS:
        settings.CheckInterval = std::chrono::hours(value);
        return TAVO_UPDATE_OK;
    case TAVO_UPDATER_NUMBER_AUTOMATIC:
        settings.AutomaticChecks = value != 0;
        return TAVO_UPDATE_OK;
    case TAVO_UPDATER_NUMBER_DOWNLOAD_FIRST:
        settings.DownloadWithoutAsking = value != 0;
        return TAVO_UPDATE_OK;
    case TAVO_UPDATER_NUMBER_EDITOR_PROCESS_ID:
        settings.EditorProcessId = value;
        return TAVO_UPDATE_OK;
    case TAVO_UPDATER_NUMBER_STOCK_DIALOGS:
        updater->Stock = value != 0;
        return TAVO_UPDATE_OK;
    }
    return TAVO_UPDATE_INVALID_ARGUMENT;
}

int32_t tavo_updater_set_callbacks(tavo_updater_t* handle, tavo_updater_ask_t ask,
                                   tavo_download_progress_t progress, tavo_updater_close_t close,
                                   tavo_updater_exit_t exit, tavo_updater_event_t event,
                                   void* user) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr || updater->Running || (ask == nullptr && !updater->Stock) ||
        close == nullptr || exit == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    updater->Ask = ask, updater->Progress = progress, updater->Close = close;
    updater->Exit = exit, updater->Event = event, updater->User = user;
    return TAVO_UPDATE_OK;
}

int32_t tavo_updater_start(tavo_updater_t* handle) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr || updater->Running || updater->Ask == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return Guarded([&]() -> int32_t {
        UpdaterHandle& h = *updater;
        UpdaterCallbacks callbacks;
        callbacks.AskToInstall = [&h](const UpdateOffered& offer) {
            return ChoiceOf(
                h.Ask(h.User, offer.Version.c_str(), offer.Notes.c_str(), offer.Critical ? 1 : 0));
        };
        if (h.Progress != nullptr) {
            callbacks.OnProgress = [&h](const DownloadProgress& progress) {
                h.Progress(h.User, progress.Received, progress.Total, progress.BytesPerSecond);
            };
        }
        if (!h.Stock) {
            callbacks.CloseDocuments = [&h] { return h.Close(h.User) == 1; };
            callbacks.ExitNow = [&h] { h.Exit(h.User); };
        }
        if (h.Event != nullptr) {
            callbacks.OnEvent = [&h, stock = callbacks.OnEvent](UpdaterEvent event,
                                                                const std::wstring& text) {
                if (stock) {
                    stock(event, text);
                }
                h.Event(h.User, static_cast<int32_t>(event), text.c_str());
            };
        }
        h.Running = std::make_unique<Updater>(h.Settings, std::move(callbacks));
        return TAVO_UPDATE_OK;
    });
}

int32_t tavo_updater_check_now(tavo_updater_t* handle) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr || !updater->Running) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    updater->Running->CheckNow();
    return TAVO_UPDATE_OK;
}

tavo_update_restart_t* tavo_update_restart_new(const wchar_t* commandLine,
                                               const wchar_t* updatesFolder) {
    auto* restart = new (std::nothrow) RestartHandle();
    if (restart == nullptr || commandLine == nullptr) {
        delete restart;
        return nullptr;
    }
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(commandLine, &count);
    const int32_t done = Guarded([&]() -> int32_t {
        restart->Restart = HandleUpdateRestart(split != nullptr ? count : 0, split,
                                               updatesFolder != nullptr ? updatesFolder : L"");
        return TAVO_UPDATE_OK;
    });
    LocalFree(split);
    if (done != TAVO_UPDATE_OK) {
        delete restart;
        return nullptr;
    }
    return restart;
}

void tavo_update_restart_free(tavo_update_restart_t* restart) {
    delete static_cast<RestartHandle*>(restart);
}

int32_t tavo_update_restart_outcome(const tavo_update_restart_t* handle) {
    const auto* restart = static_cast<const RestartHandle*>(handle);
    if (restart == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    return restart->Restart.AfterUpdate
               ? TAVO_UPDATE_INSTALLED + static_cast<int32_t>(restart->Restart.Outcome.Kind)
               : TAVO_UPDATE_NOTHING_TO_REPORT;
}

size_t tavo_update_restart_argument_count(const tavo_update_restart_t* handle) {
    const auto* restart = static_cast<const RestartHandle*>(handle);
    return restart == nullptr ? 0 : restart->Restart.Arguments.size();
}

int32_t tavo_update_restart_text(const tavo_update_restart_t* handle, int32_t which, wchar_t* text,
                                 size_t textSize, size_t* textNeeded) {
    const auto* restart = static_cast<const RestartHandle*>(handle);
    if (restart == nullptr || which < TAVO_UPDATE_RESTART_OUTCOME_TEXT ||
        (which >= 0 && static_cast<size_t>(which) >= restart->Restart.Arguments.size())) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    const UpdateRestart& r = restart->Restart;
    const std::wstring& source = which >= 0 ? r.Arguments[static_cast<size_t>(which)]
                                 : which == TAVO_UPDATE_RESTART_STATUS_FILE   ? r.StatusFile
                                 : which == TAVO_UPDATE_RESTART_INSTALLER_LOG ? r.InstallerLog
                                                                              : r.Outcome.Text;
    return CopyOut(source, text, textSize, textNeeded, TAVO_UPDATE_OK);
}

} // extern "C"
