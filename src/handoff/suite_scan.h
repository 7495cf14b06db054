#pragma once

#include <cstdint>
#include <string>

// The suite's executables, by file name, in the order they are tried.
inline constexpr const wchar_t* SuiteExecutableNames[] = {
    L"tavoPDFEditor.exe", L"NorvexViewer.exe",  L"NorvexOrganizer.exe",
    L"NorvexCompare.exe", L"NorvexStarter.exe", L"NorvexTool.exe",
};

bool IsSuiteExecutableName(const std::wstring& fileName);

// The verdict on one process with a suite name: it counts when its image
// folder is the install folder, and also when it could not be opened or its
// image path could not be read (no image path given): what cannot be
// checked is assumed to be in the way.
bool SuiteProcessCounts(bool opened, const std::wstring* imagePath,
                        const std::wstring& installFolder);

// Whether a suite application other than the editor (by its process id) and
// this helper runs from the install folder. Fails closed: a snapshot that
// cannot be taken, or a suite process that cannot be opened or inspected,
// answers true.
bool IsSuiteApplicationRunning(const std::wstring& installFolder, std::uint32_t editorProcessId);
