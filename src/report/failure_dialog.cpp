#include "report/failure_dialog.h"

#include "app/outcomes.h"
#include "install/editor_restart.h"
#include "report/status_file.h"

#include <windows.h>

std::wstring BuildFailureDialogText(const std::wstring& outcomeText,
                                    const std::wstring& statusFilePath) {
    return outcomeText + DialogLogLabel + statusFilePath + DialogReopeningNotice;
}

int ShowFailureAndReopen(const FailureContext& context, const std::wstring& outcomeText) {
    WriteStatusFile(context.StatusFilePath, outcomeText);
    const std::wstring dialogText = BuildFailureDialogText(outcomeText, context.StatusFilePath);
    MessageBoxW(nullptr, dialogText.c_str(), DialogCaption, MB_OK | MB_ICONERROR);

    // The editor comes back only after the user has read why the update failed.
    if (!RestartEditor(context.EditorPath, context.RestartArguments)) {
        MessageBoxW(nullptr, DialogReopenFailed, DialogCaption, MB_OK | MB_ICONERROR);
    }
    return ExitFailedAfterEditorExit;
}
