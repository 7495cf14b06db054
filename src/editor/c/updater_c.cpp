#include "editor/c/c_interface.h"
#include "tavo/editor_updater.h"

#include <shellapi.h>

#include <memory>
#include <mutex>

using namespace tavo;

namespace {

// What an updater handle points at: its settings and callbacks until the
// start, then the updater itself.
struct UpdaterHandle {
    std::mutex DetailLock;
    std::wstring Detail;
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
    // From one of its own callbacks too: those hold nothing of the handle.
    delete static_cast<UpdaterHandle*>(updater);
}

int32_t tavo_updater_detail(tavo_updater_t* handle, wchar_t* text, size_t textSize,
                            size_t* textNeeded) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    const std::lock_guard<std::mutex> holding(updater->DetailLock);
    return CopyOut(updater->Detail, text, textSize, textNeeded, TAVO_UPDATE_OK);
}

int32_t tavo_updater_set_owner_window(tavo_updater_t* handle, void* window) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    if (updater->Running) {
        return Answer(*updater, TAVO_UPDATE_INVALID_ARGUMENT, L"updater: started already");
    }
    updater->Settings.OwnerWindow = static_cast<HWND>(window);
    return Answer(*updater, TAVO_UPDATE_OK);
}

int32_t tavo_updater_set_text(tavo_updater_t* handle, int32_t field, const wchar_t* text) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    if (updater->Running || text == nullptr) {
        return Answer(*updater, TAVO_UPDATE_INVALID_ARGUMENT,
                      updater->Running ? L"updater: started already" : L"text: null");
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
            return Answer(*updater, TAVO_UPDATE_INVALID_ARGUMENT, L"field: unknown");
        }
        return Answer(*updater, TAVO_UPDATE_OK);
    });
}

int32_t tavo_updater_set_number(tavo_updater_t* handle, int32_t which, uint32_t value) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    if (updater->Running) {
        return Answer(*updater, TAVO_UPDATE_INVALID_ARGUMENT, L"updater: started already");
    }
    UpdaterSettings& settings = updater->Settings;
    switch (which) {
    case TAVO_UPDATER_NUMBER_INTERVAL_HOURS:
        settings.CheckInterval = std::chrono::hours(value);
        break;
    case TAVO_UPDATER_NUMBER_AUTOMATIC:
        settings.AutomaticChecks = value != 0;
        break;
    case TAVO_UPDATER_NUMBER_DOWNLOAD_FIRST:
        settings.DownloadWithoutAsking = value != 0;
        break;
    case TAVO_UPDATER_NUMBER_EDITOR_PROCESS_ID:
        settings.EditorProcessId = value;
        break;
    case TAVO_UPDATER_NUMBER_STOCK_DIALOGS:
        updater->Stock = value != 0;
        break;
    default:
        return Answer(*updater, TAVO_UPDATE_INVALID_ARGUMENT, L"number: unknown");
    }
    return Answer(*updater, TAVO_UPDATE_OK);
}

int32_t tavo_updater_set_callbacks(tavo_updater_t* handle, tavo_updater_ask_t ask,
                                   tavo_download_progress_t progress, tavo_updater_close_t close,
                                   tavo_updater_exit_t exit, tavo_updater_event_t event,
                                   void* user) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    if (updater->Running || close == nullptr || exit == nullptr) {
        return Answer(*updater, TAVO_UPDATE_INVALID_ARGUMENT,
                      updater->Running ? L"updater: started already"
                                       : L"callbacks: close and exit are needed");
    }
    updater->Ask = ask, updater->Progress = progress, updater->Close = close;
    updater->Exit = exit, updater->Event = event, updater->User = user;
    return Answer(*updater, TAVO_UPDATE_OK);
}

int32_t tavo_updater_start(tavo_updater_t* handle) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    if (updater->Running || updater->Close == nullptr ||
        (updater->Ask == nullptr && !updater->Stock)) {
        return Answer(*updater, TAVO_UPDATE_INVALID_ARGUMENT,
                      updater->Running            ? L"updater: started already"
                      : updater->Close == nullptr ? L"callbacks: not set"
                                                  : L"callbacks: no ask, and no stock dialogs");
    }
    return Guarded([&]() -> int32_t {
        const std::wstring problem = CheckUpdaterSettings(updater->Settings);
        if (!problem.empty()) {
            return Answer(*updater, TAVO_UPDATE_REFUSED, problem);
        }
        // The callbacks hold copies, never the handle: the editor may free it
        // from inside one of them.
        void* const user = updater->User;
        const tavo_updater_close_t close = updater->Close;
        const tavo_updater_exit_t exit = updater->Exit;
        UpdaterCallbacks callbacks;
        if (updater->Stock) {
            callbacks = StockUpdaterDialogs([close, user] { return close(user) == 1; },
                                            [exit, user] { exit(user); });
        } else {
            callbacks.AskToInstall = [ask = updater->Ask, user](const UpdateOffered& offer) {
                return ChoiceOf(
                    ask(user, offer.Version.c_str(), offer.Notes.c_str(), offer.Critical ? 1 : 0));
            };
            callbacks.CloseDocuments = [close, user] { return close(user) == 1; };
            callbacks.ExitNow = [exit, user] { exit(user); };
        }
        if (updater->Progress != nullptr) {
            callbacks.OnProgress = [progress = updater->Progress, user,
                                    stock = callbacks.OnProgress](const DownloadProgress& done) {
                if (stock) {
                    stock(done);
                }
                progress(user, done.Received, done.Total, done.BytesPerSecond);
            };
        }
        if (updater->Event != nullptr) {
            callbacks.OnEvent = [event = updater->Event, user, stock = callbacks.OnEvent](
                                    UpdaterEvent told, const std::wstring& text) {
                if (stock) {
                    stock(told, text);
                }
                event(user, static_cast<int32_t>(told), text.c_str());
            };
        }
        updater->Running = std::make_unique<Updater>(updater->Settings, std::move(callbacks));
        return Answer(*updater, TAVO_UPDATE_OK);
    });
}

int32_t tavo_updater_check_now(tavo_updater_t* handle) {
    auto* updater = static_cast<UpdaterHandle*>(handle);
    if (updater == nullptr) {
        return TAVO_UPDATE_INVALID_ARGUMENT;
    }
    if (!updater->Running) {
        return Answer(*updater, TAVO_UPDATE_INVALID_ARGUMENT, L"updater: not started");
    }
    updater->Running->CheckNow();
    return Answer(*updater, TAVO_UPDATE_OK);
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
