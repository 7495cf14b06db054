#include "release/whole_file.h"

#include "base/handle_owner.h"
#include "verify/checksum.h"

#include <filesystem>
#include <fstream>
#include <iterator>

std::string ReadWhole(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

bool DescribeFile(const std::wstring& path, tavo::PublishedFile& file) {
    const UniqueHandle opened = OpenPackageFile(path);
    LARGE_INTEGER size = {};
    file.Sha256 = opened.get() != INVALID_HANDLE_VALUE ? PackageChecksum(opened.get()) : L"";
    file.Size = GetFileSizeEx(opened.get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    return !file.Sha256.empty() && file.Size > 0;
}
