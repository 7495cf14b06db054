#include "app/update_run.h"

#include "base/outcomes.h"
#include "base/paths.h"
#include "app/update_request.h"
#include "handoff/handoff.h"
#include "handoff/suite_scan.h"
#include "install/editor_restart.h"
#include "install/installer_run.h"
#include "report/failure_dialog.h"
#include "report/status_file.h"
#include "verify/checksum.h"
#include "verify/file_version.h"
#include "verify/version_compare.h"

namespace {

// Before the editor has exited a failure is told by the status file alone:
// the editor is still running and the user is still working in it.
int EndBeforeEditorExit(const UpdateRequest& request, const std::wstring& text, int exitCode) {
    WriteStatusFile(request.StatusFilePath, text);
    return exitCode;
}

std::wstring ReadPackageVersion(const UpdateRequest& request) {
    if (request.PackageKind == PackageFormat::Msi) {
        return ReadMsiProductVersion(request.PackagePath);
    }
    if (ReadFileDescription(request.PackagePath) != SetupDescription) {
        return std::wstring();
    }
    return ReadFileVersion(request.PackagePath);
}

} // namespace

int RunUpdate(int argumentCount, const wchar_t* const* arguments) {
    UpdateRequest request;
    if (ParseUpdateRequest(argumentCount, arguments, request) != RequestRule::Met) {
        return ExitBadRequest;
    }

    // Owners in reverse release order: the package file is closed first,
    // then the editor process, cancel, commit and ready handles.
    HandoffHandles handoff;
    DWORD lastError = 0;
    if (!OpenHandoff(request.HandoffName, request.EditorProcessId, handoff, lastError)) {
        return EndBeforeEditorExit(request, FormatCodeMessage(TextHandoffOpenFailed, lastError),
                                   ExitHandoffFailed);
    }

    switch (CheckEditorImage(handoff.EditorProcess.get(), request.EditorPath, lastError)) {
    case ParentCheck::ImageUnreadable:
        return EndBeforeEditorExit(request, FormatCodeMessage(TextEditorImageUnreadable, lastError),
                                   ExitHandoffFailed);
    case ParentCheck::OtherFile:
        return EndBeforeEditorExit(request, TextParentNotEditor, ExitHandoffFailed);
    case ParentCheck::SameFile:
        break;
    }

    // Held to the end of the run: the file that is verified here is the file
    // the installer reads.
    const UniqueHandle package = OpenPackageFile(request.PackagePath);
    if (package.get() == INVALID_HANDLE_VALUE ||
        !VerifyPackageChecksum(package.get(), request.ExpectedChecksum)) {
        return EndBeforeEditorExit(request, TextChecksumFailed, ExitPackageRefused);
    }

    const bool isMsi = request.PackageKind == PackageFormat::Msi;
    if (!IsSameVersion(request.TargetVersion, ReadPackageVersion(request))) {
        return EndBeforeEditorExit(request, TextPackageMismatch, ExitPackageRefused);
    }

    if (!IsNewerVersion(request.TargetVersion, ReadFileVersion(request.EditorPath))) {
        return EndBeforeEditorExit(request, TextInstalledNotOlder, ExitPackageRefused);
    }

    if (IsSuiteApplicationRunning(request.InstallFolder, request.EditorProcessId)) {
        return EndBeforeEditorExit(request, TextCloseSuiteApplications, ExitPackageRefused);
    }

    if (!SignalReady(handoff.Ready.get(), lastError)) {
        return EndBeforeEditorExit(request, FormatCodeMessage(TextReadySignalFailed, lastError),
                                   ExitHandoffFailed);
    }

    // A cancel, the editor's end or a failed wait all mean the user keeps
    // working in the editor: nothing to report.
    if (WaitForEditorDecision(handoff.Commit.get(), handoff.Cancel.get(),
                              handoff.EditorProcess.get()) != EditorDecision::Commit) {
        return ExitSuccess;
    }

    if (!WaitForEditorExit(handoff.EditorProcess.get(), EditorExitTimeoutMs)) {
        return EndBeforeEditorExit(request, TextEditorDidNotExit, ExitEditorDidNotExit);
    }

    // From here on the editor is gone: every failure shows the dialog and
    // starts the editor again.
    const std::wstring restartArguments = JoinRestartArguments(request.EditorArguments);
    const FailureContext failure = {request.StatusFilePath, request.EditorPath, restartArguments};
    return RunInstaller(request, isMsi, restartArguments, failure);
}

int RunUpdateCatchingAll(int argumentCount, const wchar_t* const* arguments) {
    try {
        return RunUpdate(argumentCount, arguments);
    } catch (...) {
        // Whatever escaped, the status path is only trusted when the request
        // check would have accepted its form.
        if (argumentCount >= ArgumentFirstForEditor &&
            IsAbsolutePath(arguments[ArgumentStatusFile])) {
            WriteStatusFile(arguments[ArgumentStatusFile], TextUnexpectedError);
        }
        return ExitUnexpectedError;
    }
}
