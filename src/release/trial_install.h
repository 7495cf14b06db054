#pragma once

#include <windows.h>

#include <string>

struct TrialInstall {
    std::wstring Failure;    // why nothing could be installed; empty when it ran
    DWORD ExitCode = 0;      // the setup's
    std::wstring EditorPath; // <folder>\\tavoPDFEditor.exe as installed; empty when none was
};

// Installs the package into an empty scratch folder, which it makes if need
// be, and nothing on the machine. An NSIS setup runs as the helper runs it
// ("/S /D=<folder>"). Of an MSI, the files of INSTALLFOLDER come out of the
// package's embedded cabinet: the bytes Windows Installer would install
// there, and an administrative image would hold (Wine's msiexec makes no
// such image).
TrialInstall RunTrialInstall(const std::wstring& package, bool isMsi, const std::wstring& folder);
