#include "report/failure_dialog.h"

#include "base/outcomes.h"
#include "base/system_libraries.h"
#include "install/editor_restart.h"
#include "report/status_file.h"

std::wstring BuildFailureDialogText(const std::wstring& outcomeText,
                                    const std::wstring& statusFilePath) {
    return outcomeText + DialogLogLabel + statusFilePath + DialogReopeningNotice;
}

namespace {

// Without user32 nothing can be shown; the status file still tells, and the
// editor is still started again.
void ShowError(const wchar_t* text) {
    const UserFunctions* user = UserLibrary();
    if (user != nullptr) {
        user->MessageBox(nullptr, text, DialogCaption, MB_OK | MB_ICONERROR);
    }
}

} // namespace

int ShowFailureAndReopen(const FailureContext& context, const std::wstring& outcomeText) {
    WriteStatusFile(context.StatusFilePath, outcomeText);
    ShowError(BuildFailureDialogText(outcomeText, context.StatusFilePath).c_str());

    // The editor comes back only after the user has read why the update failed.
    if (!RestartEditor(context.EditorPath, context.RestartArguments)) {
        ShowError(DialogReopenFailed);
    }
    return ExitFailedAfterEditorExit;
}
