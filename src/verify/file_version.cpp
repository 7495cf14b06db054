#include "verify/file_version.h"

#include "base/system_libraries.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr DWORD FixedFileInfoSignature = 0xFEEF04BD;

// The version resource of an executable, or an empty block.
std::vector<unsigned char> ReadVersionBlock(const VersionFunctions& version,
                                            const std::wstring& executablePath) {
    DWORD ignored = 0;
    const DWORD size = version.GetFileVersionInfoSize(executablePath.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<unsigned char> block(size, 0);
    if (!version.GetFileVersionInfo(executablePath.c_str(), 0, size, block.data())) {
        return {};
    }
    return block;
}

// Where the resource ends: where its root node says (its first 16-bit
// word), which is before the end of the buffer, since GetFileVersionInfoW
// keeps working space after it. A value is read only before this end: a
// damaged resource must not lead us into memory that is not ours.
const unsigned char* ResourceEnd(const std::vector<unsigned char>& block) {
    WORD resourceLength = 0;
    if (block.size() >= sizeof(resourceLength)) {
        memcpy(&resourceLength, block.data(), sizeof(resourceLength));
    }
    return block.data() + (resourceLength < block.size() ? resourceLength : block.size());
}

// The bytes of a value of that many bytes, when all of them lie in the resource.
bool LiesInResource(const std::vector<unsigned char>& block, const void* value, size_t bytes) {
    const auto* first = static_cast<const unsigned char*>(value);
    return first >= block.data() && first <= ResourceEnd(block) &&
           bytes <= static_cast<size_t>(ResourceEnd(block) - first);
}

// A string value read up to its first NUL, but never past the length the
// query reports nor past the end of the resource.
std::wstring BoundedString(const std::vector<unsigned char>& block, const void* value,
                           UINT reportedLength) {
    const auto* first = static_cast<const unsigned char*>(value);
    if (!LiesInResource(block, value, sizeof(wchar_t))) {
        return std::wstring();
    }
    const size_t unitsInBlock = static_cast<size_t>(ResourceEnd(block) - first) / sizeof(wchar_t);
    const size_t limit = reportedLength < unitsInBlock ? reportedLength : unitsInBlock;
    std::wstring text;
    for (size_t index = 0; index < limit; ++index) {
        wchar_t unit = 0;
        memcpy(&unit, first + index * sizeof(wchar_t), sizeof(wchar_t));
        if (unit == L'\0') {
            break;
        }
        text += unit;
    }
    return text;
}

} // namespace

std::wstring ReadFileDescription(const std::wstring& executablePath) {
    const VersionFunctions* version = VersionLibrary();
    if (version == nullptr) {
        return std::wstring();
    }
    std::vector<unsigned char> block = ReadVersionBlock(*version, executablePath);
    if (block.empty()) {
        return std::wstring();
    }
    void* translations = nullptr;
    UINT translationsLength = 0;
    if (!version->VerQueryValue(block.data(), L"\\VarFileInfo\\Translation", &translations,
                                &translationsLength) ||
        translations == nullptr || translationsLength < 2 * sizeof(WORD)) {
        return std::wstring();
    }
    WORD firstTranslation[2] = {};
    memcpy(firstTranslation, translations, sizeof(firstTranslation));

    wchar_t subBlock[100] = {};
    swprintf(subBlock, 100, L"\\StringFileInfo\\%04x%04x\\FileDescription",
             static_cast<unsigned>(firstTranslation[0]),
             static_cast<unsigned>(firstTranslation[1]));
    void* description = nullptr;
    UINT descriptionLength = 0;
    if (!version->VerQueryValue(block.data(), subBlock, &description, &descriptionLength) ||
        description == nullptr) {
        return std::wstring();
    }
    return BoundedString(block, description, descriptionLength);
}

std::wstring ReadFileVersion(const std::wstring& executablePath) {
    const VersionFunctions* version = VersionLibrary();
    if (version == nullptr) {
        return std::wstring();
    }
    std::vector<unsigned char> block = ReadVersionBlock(*version, executablePath);
    if (block.empty()) {
        return std::wstring();
    }
    void* root = nullptr;
    UINT rootLength = 0;
    if (!version->VerQueryValue(block.data(), L"\\", &root, &rootLength) ||
        rootLength < sizeof(VS_FIXEDFILEINFO) ||
        !LiesInResource(block, root, sizeof(VS_FIXEDFILEINFO))) {
        return std::wstring();
    }
    VS_FIXEDFILEINFO fixed = {};
    memcpy(&fixed, root, sizeof(fixed));
    if (fixed.dwSignature != FixedFileInfoSignature) {
        return std::wstring();
    }
    return std::to_wstring(HIWORD(fixed.dwFileVersionMS)) + L'.' +
           std::to_wstring(LOWORD(fixed.dwFileVersionMS)) + L'.' +
           std::to_wstring(HIWORD(fixed.dwFileVersionLS)) + L'.' +
           std::to_wstring(LOWORD(fixed.dwFileVersionLS));
}
