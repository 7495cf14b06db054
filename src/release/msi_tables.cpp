#include "release/msi_tables.h"

#include "app/update_request.h"
#include "base/paths.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdint>
#include <map>
#include <memory>

namespace {

void CloseMsi(void* handle) {
    MsiCloseHandle(static_cast<MSIHANDLE>(reinterpret_cast<std::uintptr_t>(handle)));
}
using UniqueMsiHandle = std::unique_ptr<void, decltype(&CloseMsi)>;

UniqueMsiHandle OwnMsi(MSIHANDLE handle) {
    return UniqueMsiHandle(reinterpret_cast<void*>(static_cast<std::uintptr_t>(handle)), &CloseMsi);
}

MSIHANDLE Raw(const UniqueMsiHandle& owner) {
    return static_cast<MSIHANDLE>(reinterpret_cast<std::uintptr_t>(owner.get()));
}

std::wstring FieldText(MSIHANDLE record, UINT field) {
    DWORD length = 0;
    wchar_t none[1] = {};
    if (MsiRecordGetStringW(record, field, none, &length) != ERROR_MORE_DATA) {
        return std::wstring();
    }
    std::wstring text(++length, L'\0');
    MsiRecordGetStringW(record, field, text.data(), &length);
    text.resize(length);
    return text;
}

// Every record a query gives, each handed to `read` while it is open.
template <typename Read>
void ForEachRecord(const std::wstring& packagePath, const std::wstring& query, Read read) {
    MSIHANDLE rawDatabase = 0;
    const UINT opened = MsiOpenDatabaseW(packagePath.c_str(), MSIDBOPEN_READONLY, &rawDatabase);
    const UniqueMsiHandle database = OwnMsi(rawDatabase);
    MSIHANDLE rawView = 0;
    if (opened != ERROR_SUCCESS ||
        MsiDatabaseOpenViewW(Raw(database), query.c_str(), &rawView) != ERROR_SUCCESS) {
        return;
    }
    const UniqueMsiHandle view = OwnMsi(rawView);
    if (MsiViewExecute(Raw(view), 0) != ERROR_SUCCESS) {
        return;
    }
    for (MSIHANDLE rawRecord = 0; MsiViewFetch(Raw(view), &rawRecord) == ERROR_SUCCESS;) {
        const UniqueMsiHandle record = OwnMsi(rawRecord);
        read(Raw(record));
    }
}

} // namespace

std::vector<std::vector<std::wstring>> ReadMsiRows(const std::wstring& packagePath,
                                                   const std::wstring& query) {
    std::vector<std::vector<std::wstring>> rows;
    ForEachRecord(packagePath, query, [&rows](MSIHANDLE record) {
        std::vector<std::wstring>& row = rows.emplace_back();
        for (UINT field = 1; field <= MsiRecordGetFieldCount(record); ++field) {
            row.push_back(FieldText(record, field));
        }
    });
    return rows;
}

std::vector<MsiFile> ReadMsiFiles(const std::wstring& packagePath) {
    std::map<std::wstring, std::wstring> directories;
    for (const auto& row :
         ReadMsiRows(packagePath, L"SELECT `Component`, `Directory_` FROM `Component`")) {
        directories[row[0]] = row[1];
    }
    std::vector<MsiFile> files;
    for (const auto& row : ReadMsiRows(
             packagePath, L"SELECT `File`, `FileName`, `Version`, `Component_` FROM `File`")) {
        // "short|long", or the long name alone.
        files.push_back(
            MsiFile{row[0], row[1].substr(row[1].find(L'|') + 1), row[2], directories[row[3]]});
    }
    return files;
}

std::optional<MsiFile> FindMsiEditorFile(const std::vector<MsiFile>& files) {
    for (const MsiFile& file : files) {
        if (EqualsIgnoringAsciiCase(file.Name, EditorFileName)) {
            return file;
        }
    }
    return std::nullopt;
}

std::string ReadMsiStream(const std::wstring& packagePath, const std::wstring& name) {
    std::string bytes;
    if (name.find(L'\'') != std::wstring::npos) {
        return bytes;
    }
    const std::wstring query = L"SELECT `Data` FROM `_Streams` WHERE `Name`='" + name + L"'";
    ForEachRecord(packagePath, query, [&bytes](MSIHANDLE record) {
        std::string chunk(65536, '\0');
        for (DWORD size = 65536;
             MsiRecordReadStream(record, 1, chunk.data(), &size) == ERROR_SUCCESS && size > 0;
             size = 65536) {
            bytes.append(chunk.data(), size);
        }
    });
    return bytes;
}
