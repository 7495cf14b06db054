#include "release/imported_libraries.h"

#include "base/paths.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// A structure at an offset of the file's bytes, only when all of it is there.
template <typename Structure>
bool ReadAt(const std::string& bytes, size_t offset, Structure& structure) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(Structure)) {
        return false;
    }
    std::memcpy(&structure, bytes.data() + offset, sizeof(Structure));
    return true;
}

// Where an address of the loaded image lies in the file, by the section
// that holds it; 0 when none does.
size_t FileOffsetOf(DWORD address, const std::vector<IMAGE_SECTION_HEADER>& sections) {
    for (const IMAGE_SECTION_HEADER& section : sections) {
        const DWORD size =
            section.Misc.VirtualSize != 0 ? section.Misc.VirtualSize : section.SizeOfRawData;
        if (address >= section.VirtualAddress && address - section.VirtualAddress < size &&
            address - section.VirtualAddress < section.SizeOfRawData) {
            return section.PointerToRawData + (address - section.VirtualAddress);
        }
    }
    return 0;
}

// A NUL-ended ASCII name at that offset, at most 256 characters.
std::wstring NameAt(const std::string& bytes, size_t offset) {
    std::wstring name;
    for (; offset < bytes.size() && bytes[offset] != '\0' && name.size() <= 256; ++offset) {
        name += static_cast<wchar_t>(static_cast<unsigned char>(bytes[offset]));
    }
    return offset < bytes.size() && bytes[offset] == '\0' ? name : std::wstring();
}

} // namespace

std::optional<std::vector<std::wstring>> ReadImportedLibraries(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    IMAGE_DOS_HEADER dos = {};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header = {};
    WORD magic = 0;
    if (!ReadAt(bytes, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
        !ReadAt(bytes, static_cast<size_t>(dos.e_lfanew), signature) ||
        signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(bytes, static_cast<size_t>(dos.e_lfanew) + sizeof(DWORD), header)) {
        return std::nullopt;
    }
    const size_t optional = static_cast<size_t>(dos.e_lfanew) + sizeof(DWORD) + sizeof(header);
    IMAGE_DATA_DIRECTORY imports = {};
    IMAGE_OPTIONAL_HEADER64 header64 = {};
    IMAGE_OPTIONAL_HEADER32 header32 = {};
    if (!ReadAt(bytes, optional, magic)) {
        return std::nullopt;
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC && ReadAt(bytes, optional, header64) &&
               header64.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT) {
        imports = header64.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC && ReadAt(bytes, optional, header32) &&
               header32.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT) {
        imports = header32.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else if (magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC && magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        return std::nullopt;
    }
    std::vector<IMAGE_SECTION_HEADER> sections(header.NumberOfSections);
    for (size_t index = 0; index < sections.size(); ++index) {
        if (!ReadAt(bytes, optional + header.SizeOfOptionalHeader + index * sizeof(sections[0]),
                    sections[index])) {
            return std::nullopt;
        }
    }
    std::vector<std::wstring> names;
    if (imports.VirtualAddress == 0) {
        return names;
    }
    const size_t first = FileOffsetOf(imports.VirtualAddress, sections);
    IMAGE_IMPORT_DESCRIPTOR entry = {};
    // The table ends with an entry of zeros; a table that runs off its section
    // is damaged.
    for (size_t offset = first; first != 0; offset += sizeof(entry)) {
        if (!ReadAt(bytes, offset, entry)) {
            return std::nullopt;
        }
        if (entry.Name == 0) {
            return names;
        }
        const size_t name = FileOffsetOf(entry.Name, sections);
        names.push_back(name == 0 ? std::wstring() : NameAt(bytes, name));
        if (names.back().empty()) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool IsSystemLibrary(const std::wstring& name) {
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    // API sets are names the loader maps to system libraries, never files.
    const std::wstring prefix = name.substr(0, 7);
    if (EqualsIgnoringAsciiCase(prefix, L"api-ms-") ||
        EqualsIgnoringAsciiCase(prefix, L"ext-ms-")) {
        return true;
    }
    if (length == 0 || length >= MAX_PATH || name.find_first_of(L"\\/:") != std::wstring::npos) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW((std::wstring(system) + L"\\" + name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::vector<std::wstring>> FindMissingLibraries(const std::wstring& program) {
    const std::wstring folder = ParentFolder(program);
    std::vector<std::wstring> missing, followed, programs = {program};
    while (!programs.empty()) {
        const std::optional<std::vector<std::wstring>> names =
            ReadImportedLibraries(programs.back());
        programs.pop_back();
        if (!names) {
            return std::nullopt;
        }
        for (const std::wstring& name : *names) {
            const auto same = [&name](const std::wstring& seen) {
                return EqualsIgnoringAsciiCase(seen, name);
            };
            const std::wstring beside = folder + L"\\" + name;
            if (IsSystemLibrary(name) || std::any_of(followed.begin(), followed.end(), same) ||
                std::any_of(missing.begin(), missing.end(), same)) {
                continue;
            }
            const DWORD attributes = GetFileAttributesW(beside.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                missing.push_back(name);
            } else {
                followed.push_back(name);
                programs.push_back(beside);
            }
        }
    }
    return missing;
}
