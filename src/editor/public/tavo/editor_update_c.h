/* The editor's half of an update, for editors in any language or built with
 * any compiler: the same library as tavo/editor_update.h behind flat C
 * functions. Every function returns a code (see TAVO_UPDATE_* below, and
 * tavo_update_code_name); none throws. Strings are UTF-16 (wchar_t); texts
 * come back in the caller's buffer, with the size needed. Every call on an
 * attempt sets the attempt's detail of its own answer (empty when there is
 * nothing to add), read with tavo_update_detail.
 *
 * Threads: set_*, start and await_ready on one thread at a time, in that
 * order. commit, cancel and detail may be called from any thread at any
 * time, also while another thread is inside start or await_ready (the
 * user's "not now" from the UI thread while a worker starts the attempt:
 * the cancel stands, and a later start is refused). Free the attempt once
 * every other call on it has returned.
 *
 *   tavo_update_attempt_t* attempt = tavo_update_attempt_new();
 *   tavo_update_set_text(attempt, TAVO_UPDATE_FIELD_HELPER_PATH, L"C:\\...");  ...
 *   if (tavo_update_start(attempt) == TAVO_UPDATE_STARTED &&
 *       tavo_update_await_ready(attempt, 30000) == TAVO_UPDATE_READY &&
 *       SaveWorkAndCloseDocuments() &&
 *       tavo_update_commit(attempt) == TAVO_UPDATE_COMMITTED) { exit now }
 *   else { tavo_update_cancel(attempt); keep running }
 *   tavo_update_attempt_free(attempt);
 */
#ifndef TAVO_EDITOR_UPDATE_C_H
#define TAVO_EDITOR_UPDATE_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One update attempt: its order, its handoff with the helper, and the detail
 * of its last answer. Must be freed with tavo_update_attempt_free. */
typedef void tavo_update_attempt_t;

/* Fields of the order (tavo::UpdateOrder), set one by one. */
#define TAVO_UPDATE_FIELD_HELPER_PATH 1
#define TAVO_UPDATE_FIELD_PACKAGE_PATH 2
#define TAVO_UPDATE_FIELD_PACKAGE_SHA256 3
#define TAVO_UPDATE_FIELD_PACKAGE_KIND 4 /* "msi" or "exe" */
#define TAVO_UPDATE_FIELD_TARGET_VERSION 5
#define TAVO_UPDATE_FIELD_STATUS_FILE_PATH 6
#define TAVO_UPDATE_FIELD_EDITOR_PATH 7     /* unset: this process's executable */
#define TAVO_UPDATE_FIELD_EDITOR_ARGUMENT 8 /* adds one, in order */
#define TAVO_UPDATE_FIELD_PUBLISHER_KEY 9   /* adds one */

/* Codes. Their values never change. */
#define TAVO_UPDATE_OK 0
#define TAVO_UPDATE_STARTED 1
#define TAVO_UPDATE_REFUSED 2       /* nothing started: the detail names the rule broken */
#define TAVO_UPDATE_WINDOWS_ERROR 3 /* not started: the detail gives the error */
#define TAVO_UPDATE_TEXT_CUT 4      /* the buffer holds only the text's start: see text_needed */
#define TAVO_UPDATE_READY 10
#define TAVO_UPDATE_ENDED_BEFORE_READY 11 /* the detail is the helper's outcome text */
#define TAVO_UPDATE_STILL_CHECKING 12
#define TAVO_UPDATE_WAIT_FAILED 13
#define TAVO_UPDATE_COMMITTED 20 /* exit now; any other answer to a commit: do not */
#define TAVO_UPDATE_NOT_READY 21
#define TAVO_UPDATE_HELPER_ENDED 22
#define TAVO_UPDATE_CANCELLED 23
#define TAVO_UPDATE_COMMIT_FAILED 24
#define TAVO_UPDATE_COMMIT_STANDS 30 /* a cancel after a commit: exit now */
#define TAVO_UPDATE_CANCEL_FAILED 31
#define TAVO_UPDATE_INSTALLED 40 /* outcomes read back from the status file */
#define TAVO_UPDATE_INSTALLED_RESTART_ADVISED 41
#define TAVO_UPDATE_INSTALLED_RESTART_FAILED 42
#define TAVO_UPDATE_REFUSED_BEFORE_EDITOR_EXIT 43
#define TAVO_UPDATE_FAILED_AFTER_EDITOR_EXIT 44
#define TAVO_UPDATE_UNEXPECTED_ERROR 45
#define TAVO_UPDATE_NOTHING_WRITTEN 46
#define TAVO_UPDATE_UNREADABLE 47
#define TAVO_UPDATE_NOT_AN_OUTCOME 48
#define TAVO_UPDATE_DOWNLOADED 60          /* a download's results: verified and in place */
#define TAVO_UPDATE_OFFER_REFUSED 61       /* the offer breaks a rule: the detail names it */
#define TAVO_UPDATE_ALREADY_DOWNLOADING 62 /* another download into the folder runs */
#define TAVO_UPDATE_NOT_ENOUGH_SPACE 63    /* nothing written: "download folder: N MB free, ..." */
#define TAVO_UPDATE_NETWORK_FAILED 64      /* a retry may help; the partial file is kept */
#define TAVO_UPDATE_STALLED 65        /* no byte for the stall limit; the partial file is kept */
#define TAVO_UPDATE_STOPPED 66        /* as asked; the partial file is kept */
#define TAVO_UPDATE_SERVER_REFUSED 67 /* an answer that breaks the offer */
#define TAVO_UPDATE_CHECK_FAILED 68   /* size, SHA-256 or signature: the file is removed */
#define TAVO_UPDATE_FILE_FAILED 69    /* the download folder could not be written */
#define TAVO_UPDATE_UP_TO_DATE 70     /* a feed check's answers */
#define TAVO_UPDATE_OFFERED 71        /* tavo_feed_check_offer fills a download */
#define TAVO_UPDATE_FEED_REFUSED 72   /* the detail says why: not signed, expired, ... */
#define TAVO_UPDATE_FEED_NETWORK_FAILED 73 /* "; retry may help", "; retry after N s" */
#define TAVO_UPDATE_FEED_STOPPED 74        /* by tavo_feed_check_stop */
#define TAVO_UPDATE_FEED_BUSY 75 /* another check holds the state file now; retry may help */
/* A null attempt or text, an unknown field, a start or a field after the start, an
 * await before it: the detail says which. */
#define TAVO_UPDATE_INVALID_ARGUMENT 90
#define TAVO_UPDATE_OUT_OF_MEMORY 91
#define TAVO_UPDATE_INTERNAL_ERROR 92

/* A new attempt, or null when memory ran out. */
tavo_update_attempt_t* tavo_update_attempt_new(void);

/* Frees the attempt and its handles (null does nothing). A helper that
 * runs is not stopped: cancel first unless the editor committed. */
void tavo_update_attempt_free(tavo_update_attempt_t* attempt);

/* Sets field (TAVO_UPDATE_FIELD_*) of the order to text, before the start;
 * the argument and key fields add one more. OK or INVALID_ARGUMENT. */
int32_t tavo_update_set_text(tavo_update_attempt_t* attempt, int32_t field, const wchar_t* text);

/* The editor process that exits for the update; unset: this process (then
 * give its path too). OK or INVALID_ARGUMENT. */
int32_t tavo_update_set_editor_process_id(tavo_update_attempt_t* attempt, uint32_t process_id);

/* Checks the order and the package's signer (with publisher keys), creates
 * the handoff and starts the helper: STARTED, REFUSED or WINDOWS_ERROR. An
 * attempt cancelled before is REFUSED ("handoff: cancelled"). */
int32_t tavo_update_start(tavo_update_attempt_t* attempt);

/* Waits up to limit_ms: READY, ENDED_BEFORE_READY, STILL_CHECKING or WAIT_FAILED;
 * INVALID_ARGUMENT ("attempt: not started") when no helper was started. */
int32_t tavo_update_await_ready(tavo_update_attempt_t* attempt, uint32_t limit_ms);

/* COMMITTED (exit now), or NOT_READY (also before the start), HELPER_ENDED,
 * CANCELLED (also when cancelled before the start), COMMIT_FAILED. */
int32_t tavo_update_commit(tavo_update_attempt_t* attempt);

/* Returns once the helper has ended: CANCELLED, COMMIT_STANDS (exit now) or
 * CANCEL_FAILED. Before the start too: the attempt then starts nothing. */
int32_t tavo_update_cancel(tavo_update_attempt_t* attempt);

/* The detail of the attempt's last answer (a refusal, a Windows error, the
 * helper's outcome text) into text, text_size wide characters with the NUL;
 * *text_needed (when not null) gets the size it takes. OK, or TEXT_CUT when
 * the text did not fit: text then holds its start, NUL-ended (text null
 * asks for the size alone, and is OK). */
int32_t tavo_update_detail(const tavo_update_attempt_t* attempt, wchar_t* text, size_t text_size,
                           size_t* text_needed);

/* In the restarted editor: the outcome in the status file, as a code from
 * INSTALLED to NOT_AN_OUTCOME; its text as written into text, as above:
 * TEXT_CUT instead of the outcome's code when it did not fit. */
int32_t tavo_update_read_outcome(const wchar_t* status_file_path, wchar_t* text, size_t text_size,
                                 size_t* text_needed);

/* One download of an offered package into the editor's updates folder,
 * resumed where an earlier one stopped, verified before it is handed over
 * (tavo::DownloadPackage). Must be freed with tavo_download_free. Threads:
 * set_*, run and hand_over on one thread; stop and detail from any thread. */
typedef void tavo_download_t;

#define TAVO_DOWNLOAD_FIELD_URL 1 /* https:// only */
#define TAVO_DOWNLOAD_FIELD_SHA256 2
#define TAVO_DOWNLOAD_FIELD_KIND 3 /* "msi" or "exe" */
#define TAVO_DOWNLOAD_FIELD_VERSION 4
#define TAVO_DOWNLOAD_FIELD_PUBLISHER_KEY 5 /* adds one */
#define TAVO_DOWNLOAD_FIELD_FOLDER 6        /* an existing folder */

/* Called on the download's thread at most about ten times a second. */
typedef void (*tavo_download_progress_t)(void* user, uint64_t received, uint64_t total,
                                         double bytes_per_second);

/* A new download, or null when memory ran out. */
tavo_download_t* tavo_download_new(void);

/* Frees the download (null does nothing); not while it runs. */
void tavo_download_free(tavo_download_t* download);

/* Sets field (TAVO_DOWNLOAD_FIELD_*) of the offer; OK or INVALID_ARGUMENT. */
int32_t tavo_download_set_text(tavo_download_t* download, int32_t field, const wchar_t* text);

/* The offer's size in bytes, and the stall limit (default 30000 ms); OK. */
int32_t tavo_download_set_size(tavo_download_t* download, uint64_t size);
int32_t tavo_download_set_stall_limit(tavo_download_t* download, uint32_t limit_ms);

/* The progress callback and its user pointer (null: none); OK. */
int32_t tavo_download_set_progress(tavo_download_t* download, tavo_download_progress_t progress,
                                   void* user);

/* Downloads and verifies: DOWNLOADED, or OFFER_REFUSED to FILE_FAILED; the
 * detail says what failed, and says "retry may help" when it may. */
int32_t tavo_download_run(tavo_download_t* download);

/* From any thread: the running download ends soon after, STOPPED. OK. The
 * stop stays: a later run of the same download answers STOPPED at once, so
 * make a new download for the next attempt (it resumes the partial file). */
int32_t tavo_download_stop(tavo_download_t* download);

/* The detail of the download's last answer, as tavo_update_detail. */
int32_t tavo_download_detail(const tavo_download_t* download, wchar_t* text, size_t text_size,
                             size_t* text_needed);

/* After DOWNLOADED: sets the attempt's package path, SHA-256, kind, target
 * version and publisher keys from the download. OK, or INVALID_ARGUMENT
 * ("download: not downloaded", "attempt: started already"). */
int32_t tavo_download_hand_over(const tavo_download_t* download, tavo_update_attempt_t* attempt);

/* A check of the signed feed for an update (tavo::CheckForUpdate). Must be
 * freed with tavo_feed_check_free. */
typedef void tavo_feed_check_t;

#define TAVO_FEED_FIELD_URL 1 /* https:// only; its signature is <URL>.sig */
#define TAVO_FEED_FIELD_CHANNEL 2
#define TAVO_FEED_FIELD_RUNNING_VERSION 3
#define TAVO_FEED_FIELD_FEED_KEY 4      /* adds one: a pin of the feed's signing key */
#define TAVO_FEED_FIELD_PUBLISHER_KEY 5 /* adds one: for the offer's package */
#define TAVO_FEED_FIELD_STATE_FILE 6    /* per user; its folder must exist */

tavo_feed_check_t* tavo_feed_check_new(void);
void tavo_feed_check_free(tavo_feed_check_t* check);

/* Sets field (TAVO_FEED_FIELD_*); OK or INVALID_ARGUMENT. */
int32_t tavo_feed_check_set_text(tavo_feed_check_t* check, int32_t field, const wchar_t* text);

/* Whether the user asked by hand (the staged rollout then does not hold the release back). */
int32_t tavo_feed_check_set_by_hand(tavo_feed_check_t* check, int32_t by_hand);

/* Fetches and judges the feed: UP_TO_DATE, OFFERED, FEED_REFUSED, FEED_NETWORK_FAILED,
 * FEED_STOPPED or FEED_BUSY. */
int32_t tavo_feed_check_run(tavo_feed_check_t* check);

/* Ends a tavo_feed_check_run on another thread within a second (FEED_STOPPED); any thread,
 * any time, also before the run. OK. */
int32_t tavo_feed_check_stop(tavo_feed_check_t* check);

#define TAVO_FEED_TEXT_NOTES 1 /* the offered release's notes, to show the user */
#define TAVO_FEED_TEXT_STATE_PROBLEM                                                               \
    2 /* the state file could not be read or written: then                                         \
         every check is a new install to the rollout */

/* A text of the last run's answer (TAVO_FEED_TEXT_*) into the caller's buffer, as
 * tavo_update_detail; empty when there is none. OK, TEXT_CUT or INVALID_ARGUMENT. */
int32_t tavo_feed_check_text(const tavo_feed_check_t* check, int32_t which, wchar_t* text,
                             size_t text_size, size_t* text_needed);

/* 1 when the last run offered a critical release (offer it now, never let it be skipped),
 * else 0. */
int32_t tavo_feed_check_critical(const tavo_feed_check_t* check);

/* The detail of the last answer, as tavo_update_detail (with OFFERED: the version offered). */
int32_t tavo_feed_check_detail(const tavo_feed_check_t* check, wchar_t* text, size_t text_size,
                               size_t* text_needed);

/* After OFFERED: sets the download's URL, size, SHA-256, kind, version and publisher keys
 * from the offer. OK, or INVALID_ARGUMENT ("feed: nothing offered"). */
int32_t tavo_feed_check_offer(const tavo_feed_check_t* check, tavo_download_t* download);

/* The updater: one object that checks the feed on a schedule (or when asked), asks the
 * user, downloads, hands over once the documents are closed (tavo::Updater). Set its
 * fields and callbacks, then start it. Must be freed with tavo_updater_free, which stops
 * its thread within a second (a partial download is kept, an open stock window is
 * answered Later / No); it may be called from inside one of the updater's callbacks.
 * Each call sets the updater's detail, read with tavo_updater_detail. */
typedef void tavo_updater_t;

#define TAVO_UPDATER_FIELD_FEED_URL 1
#define TAVO_UPDATER_FIELD_CHANNEL 2         /* default "stable" */
#define TAVO_UPDATER_FIELD_FEED_KEY 3        /* adds one */
#define TAVO_UPDATER_FIELD_PUBLISHER_KEY 4   /* adds one */
#define TAVO_UPDATER_FIELD_UPDATES_FOLDER 5  /* default %LOCALAPPDATA%\Tavo PDF\Updates */
#define TAVO_UPDATER_FIELD_RUNNING_VERSION 6 /* default: the editor's file version */
#define TAVO_UPDATER_FIELD_EDITOR_PATH 7     /* with TAVO_UPDATER_NUMBER_EDITOR_PROCESS_ID */
#define TAVO_UPDATER_FIELD_EDITOR_ARGUMENT 8 /* adds one; none set: this process's own */

#define TAVO_UPDATER_NUMBER_INTERVAL_HOURS 1 /* default 24; 1 to 8760 */
#define TAVO_UPDATER_NUMBER_AUTOMATIC 2      /* 0: checks only by hand; default 1 */
#define TAVO_UPDATER_NUMBER_DOWNLOAD_FIRST 3 /* 1: download before asking; default 0 */
#define TAVO_UPDATER_NUMBER_EDITOR_PROCESS_ID 4
#define TAVO_UPDATER_NUMBER_STOCK_DIALOGS                                                          \
    5 /* 1: the library's own windows ask and show                                                 \
         progress; the ask callback may be null */

#define TAVO_UPDATE_CHOICE_INSTALL_NOW 1
#define TAVO_UPDATE_CHOICE_LATER 2
#define TAVO_UPDATE_CHOICE_SKIP 3 /* a critical release is not skipped: taken as later */

/* What the updater tells the editor (tavo::UpdaterEvent, in order). */
#define TAVO_UPDATER_EVENT_UP_TO_DATE 0
#define TAVO_UPDATER_EVENT_REFUSED 1
#define TAVO_UPDATER_EVENT_NETWORK_FAILED 2
#define TAVO_UPDATER_EVENT_SKIPPED 3
#define TAVO_UPDATER_EVENT_NOT_NOW 4
#define TAVO_UPDATER_EVENT_FAILED 5
#define TAVO_UPDATER_EVENT_COMMITTED 6 /* exit now: the exit callback follows */
#define TAVO_UPDATER_EVENT_FORBIDDEN 7

/* The callbacks, each called with the user pointer on the updater's thread, or on the owner
 * window's thread when one is set (tavo_updater_set_owner_window). */
typedef int32_t (*tavo_updater_ask_t)(void* user, const wchar_t* version, const wchar_t* notes,
                                      int32_t critical); /* a TAVO_UPDATE_CHOICE_* */
typedef int32_t (*tavo_updater_close_t)(void* user);     /* 1: documents saved and closed */
typedef void (*tavo_updater_exit_t)(void* user);         /* end the process now */
typedef void (*tavo_updater_event_t)(void* user, int32_t event, const wchar_t* text);

tavo_updater_t* tavo_updater_new(void);
void tavo_updater_free(tavo_updater_t* updater);

/* Before the start; OK or INVALID_ARGUMENT ("updater: started already", "field: unknown"). */
int32_t tavo_updater_set_text(tavo_updater_t* updater, int32_t field, const wchar_t* text);
int32_t tavo_updater_set_number(tavo_updater_t* updater, int32_t which, uint32_t value);
/* Any callback may be null but close and exit; ask too with the stock dialogs, whose
 * windows then ask (an ask given is not called). OK or INVALID_ARGUMENT. */
int32_t tavo_updater_set_callbacks(tavo_updater_t* updater, tavo_updater_ask_t ask,
                                   tavo_download_progress_t progress, tavo_updater_close_t close,
                                   tavo_updater_exit_t exit, tavo_updater_event_t event,
                                   void* user);
/* The editor's main window (an HWND), for an editor with a message loop: set before the
 * start, on that window's thread, which then makes, starts and frees the updater. The
 * callbacks run on that thread (through a message of the updater's own, while the loop
 * runs) and the stock windows are owned by the window. OK or INVALID_ARGUMENT. */
int32_t tavo_updater_set_owner_window(tavo_updater_t* updater, void* window);
/* Starts the updater's thread: automatic checks when due. OK; INVALID_ARGUMENT
 * ("callbacks: not set", "callbacks: no ask, and no stock dialogs", "updater: started
 * already"); or REFUSED when the hand-over could never work, before anything is fetched
 * ("editor executable: not named tavoPDFEditor.exe", "helper: no tavoPDFUpdateHelper.exe
 * beside the editor (...)", "owner window: not a window of the thread that makes the
 * updater", ...). */
int32_t tavo_updater_start(tavo_updater_t* updater);
/* A check by hand, answered through the callbacks. OK, or INVALID_ARGUMENT before the start. */
int32_t tavo_updater_check_now(tavo_updater_t* updater);
/* The detail of the updater's last answer, as tavo_update_detail; empty when there is none. */
int32_t tavo_updater_detail(tavo_updater_t* updater, wchar_t* text, size_t text_size,
                            size_t* text_needed);

/* The start-up call, first thing in main (tavo::HandleUpdateRestart): the editor's own
 * arguments, and how an update before this start went. Must be freed with
 * tavo_update_restart_free. updates_folder: NULL for the default. */
typedef void tavo_update_restart_t;
tavo_update_restart_t* tavo_update_restart_new(const wchar_t* command_line,
                                               const wchar_t* updates_folder);
void tavo_update_restart_free(tavo_update_restart_t* restart);
/* NOTHING_TO_REPORT when this start is no restart after an update; else the outcome
 * (INSTALLED ... NOT_AN_OUTCOME, as tavo_update_read_outcome). */
#define TAVO_UPDATE_NOTHING_TO_REPORT 49
int32_t tavo_update_restart_outcome(const tavo_update_restart_t* restart);
/* The editor's own arguments, element 0 (its path) included. */
size_t tavo_update_restart_argument_count(const tavo_update_restart_t* restart);
#define TAVO_UPDATE_RESTART_STATUS_FILE -1   /* kept after a failure; else empty */
#define TAVO_UPDATE_RESTART_INSTALLER_LOG -2 /* kept after a failure; else empty */
#define TAVO_UPDATE_RESTART_OUTCOME_TEXT -3
/* Argument `which` (0 on), or one of the texts above, as tavo_update_detail. */
int32_t tavo_update_restart_text(const tavo_update_restart_t* restart, int32_t which, wchar_t* text,
                                 size_t text_size, size_t* text_needed);

/* A code in a few words, for a log ("committed"); never null. */
const wchar_t* tavo_update_code_name(int32_t code);

#ifdef __cplusplus
}
#endif

#endif
