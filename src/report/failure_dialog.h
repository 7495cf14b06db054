#pragma once

#include <string>

// What the failure dialog needs; the texts belong to the update run, which
// outlives every dialog.
struct FailureContext {
    const std::wstring& StatusFilePath;
    const std::wstring& EditorPath;
    const std::wstring& RestartArguments;
};

inline constexpr wchar_t DialogCaption[] = L"Tavo PDF update";
inline constexpr wchar_t DialogLogLabel[] = L"\n\nLog: ";
inline constexpr wchar_t DialogReopeningNotice[] =
    L"\n更新未完成，将尝试重新打开编辑器。\nThe editor will be reopened if available.";
inline constexpr wchar_t DialogReopenFailed[] =
    L"无法重新打开编辑器，请从快捷方式启动或修复安装。\nCannot reopen the editor. Please start it "
    L"from its shortcut or repair the installation.";

// The outcome text, the log label, the status file path as given and the
// bilingual notice, with nothing between them.
std::wstring BuildFailureDialogText(const std::wstring& outcomeText,
                                    const std::wstring& statusFilePath);

// For every failure after the editor has exited: writes the status file,
// shows the error, then starts the editor again (a second box if that fails).
// Always answers exit code 6.
int ShowFailureAndReopen(const FailureContext& context, const std::wstring& outcomeText);
