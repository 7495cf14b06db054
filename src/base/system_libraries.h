#pragma once

#include <windows.h>
#include <shellapi.h>
#include <bcrypt.h>
#include <msi.h>
#include <msiquery.h>
#include <winver.h>

// version.dll, msi.dll and bcrypt.dll are not among the libraries Windows
// always takes from the system folder: imported, they would be looked for
// first beside the helper, which often runs from a folder its user can
// write to. So they are never imported. The step that first needs one loads
// it here, from the system folder only, and it stays loaded for the rest of
// the run. Each answers null when the library or one of its functions cannot
// be loaded; the step that needed it then fails as it documents.
//
// shell32.dll and user32.dll are loaded here too, although Windows always
// takes them from the system folder: what they import in turn is then looked
// for under the same rule (Wine's user32, for one, imports version.dll).

struct ShellFunctions {
    decltype(&CommandLineToArgvW) CommandLineToArgv;
    decltype(&ShellExecuteExW) ShellExecuteEx;
};

struct UserFunctions {
    decltype(&MessageBoxW) MessageBox;
};

struct VersionFunctions {
    decltype(&GetFileVersionInfoSizeW) GetFileVersionInfoSize;
    decltype(&GetFileVersionInfoW) GetFileVersionInfo;
    decltype(&VerQueryValueW) VerQueryValue;
};

struct MsiFunctions {
    decltype(&MsiOpenDatabaseW) OpenDatabase;
    decltype(&MsiDatabaseOpenViewW) DatabaseOpenView;
    decltype(&MsiViewExecute) ViewExecute;
    decltype(&MsiViewFetch) ViewFetch;
    decltype(&MsiRecordGetStringW) RecordGetString;
    decltype(&MsiCloseHandle) CloseHandle;
};

struct BcryptFunctions {
    decltype(&BCryptOpenAlgorithmProvider) OpenAlgorithmProvider;
    decltype(&BCryptGetProperty) GetProperty;
    decltype(&BCryptCreateHash) CreateHash;
    decltype(&BCryptHashData) HashData;
    decltype(&BCryptFinishHash) FinishHash;
    decltype(&BCryptDestroyHash) DestroyHash;
    decltype(&BCryptCloseAlgorithmProvider) CloseAlgorithmProvider;
};

const ShellFunctions* ShellLibrary();
const UserFunctions* UserLibrary();
const VersionFunctions* VersionLibrary();
const MsiFunctions* MsiLibrary();
const BcryptFunctions* BcryptLibrary();
