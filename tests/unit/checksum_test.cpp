// The package checksum over real files, read through the handle the run
// holds. Expected digests were computed outside Windows (Python's hashlib).

#include "editor_side.h"
#include "verify/checksum.h"

#include <gtest/gtest.h>

namespace {

const std::wstring AbcDigest = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
// SHA-256 of the pattern (i * 31 + 7) mod 256 for i below 3 MiB + 5.
const std::wstring PatternDigest =
    L"aacbf7fdf74148b96f47b5a44d8be9f8d52b59c291c5f60cfb68671b58059e56";
const std::wstring EmptyDigest =
    L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
// SHA-256 of 2 GiB of zero bytes.
const std::wstring TwoGiBZeroDigest =
    L"a7c744c13cc101ed66c29f672f92455547889cc586ce6d44fe76ae824958ea51";

std::wstring WritePackage(const std::wstring& folder, const std::string& bytes) {
    const std::wstring path = folder + L"\\package.bin";
    WriteBytes(path, bytes);
    return path;
}

bool Verify(const std::wstring& path, const std::wstring& expected) {
    const UniqueHandle package = OpenPackageFile(path);
    return package.get() != INVALID_HANDLE_VALUE && VerifyPackageChecksum(package.get(), expected);
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& unit : text) {
        unit = (unit >= L'a' && unit <= L'z') ? static_cast<wchar_t>(unit - 32) : unit;
    }
    return text;
}

TEST(PackageChecksum, ExpectedTextIsJudgedByLengthCaseAndDigits) {
    const std::wstring path = WritePackage(MakeWorkFolder(L"checksum"), "abc");
    std::wstring mixed = AbcDigest;
    for (size_t index = 0; index < mixed.size(); index += 2) {
        mixed[index] = Upper(mixed.substr(index, 1))[0];
    }
    std::wstring withBlank = AbcDigest;
    withBlank[10] = L' ';
    std::wstring withOtherLetter = AbcDigest;
    withOtherLetter[0] = L'g';

    const std::pair<std::wstring, bool> cases[] = {
        {AbcDigest, true},
        {Upper(AbcDigest), true},
        {mixed, true},
        {AbcDigest.substr(0, 63), false},
        {AbcDigest + L"0", false},
        {L" " + AbcDigest.substr(0, 63), false},
        {withBlank, false},
        {withOtherLetter, false},
        {std::wstring(64, L'0'), false},
        {L"", false},
    };
    for (const auto& [expected, verdict] : cases) {
        EXPECT_EQ(Verify(path, expected), verdict) << testing::PrintToString(expected);
    }
}

TEST(PackageChecksum, PackageLargerThanOneReadIsHashedWhole) {
    std::string bytes(3 * 1048576 + 5, '\0');
    for (size_t index = 0; index < bytes.size(); ++index) {
        bytes[index] = static_cast<char>((index * 31 + 7) & 0xFF);
    }
    EXPECT_TRUE(Verify(WritePackage(MakeWorkFolder(L"checksum"), bytes), PatternDigest));
}

TEST(PackageChecksum, EmptyPackageIsRefusedEvenWithTheEmptyDigest) {
    EXPECT_FALSE(Verify(WritePackage(MakeWorkFolder(L"checksum"), ""), EmptyDigest));
}

TEST(PackageChecksum, MissingPackageCannotBeOpened) {
    EXPECT_EQ(OpenPackageFile(MakeWorkFolder(L"checksum") + L"\\missing.msi").get(),
              INVALID_HANDLE_VALUE);
}

TEST(PackageChecksum, PackageHeldForWritingByAnotherProcessCannotBeOpened) {
    const std::wstring path = WritePackage(MakeWorkFolder(L"checksum"), "abc");
    const UniqueHandle writer =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(writer.get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenPackageFile(path).get(), INVALID_HANDLE_VALUE);
}

TEST(PackageChecksum, VerifiedPackageCannotBeWrittenRenamedOrDeletedWhileHeld) {
    const std::wstring folder = MakeWorkFolder(L"checksum");
    const std::wstring path = WritePackage(folder, "abc");
    const UniqueHandle package = OpenPackageFile(path);
    ASSERT_TRUE(VerifyPackageChecksum(package.get(), AbcDigest));

    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_FALSE(MoveFileW(path.c_str(), (folder + L"\\renamed.bin").c_str()));
    // Readers, such as the installer, are still welcome.
    const UniqueHandle reader =
        OwnHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_NE(reader.get(), INVALID_HANDLE_VALUE);
}

// Sparse files of exactly 2 GiB and one byte more: the limit is inclusive.
TEST(PackageChecksum, TwoGibibytesPassAndOneByteMoreIsRefused) {
    const std::wstring folder = MakeWorkFolder(L"checksum");
    const auto makeSparse = [&folder](const wchar_t* name, LONGLONG size) {
        const std::wstring path = folder + L"\\" + name;
        const UniqueHandle file =
            OwnHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = size;
        SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN);
        SetEndOfFile(file.get());
        return path;
    };
    EXPECT_TRUE(Verify(makeSparse(L"limit.bin", 2147483648LL), TwoGiBZeroDigest));
    EXPECT_FALSE(Verify(makeSparse(L"over.bin", 2147483649LL), TwoGiBZeroDigest));
    DeleteFileW((folder + L"\\limit.bin").c_str());
    DeleteFileW((folder + L"\\over.bin").c_str());
}

TEST(PackageChecksum, DigestTextIsLowerCaseHighNibbleFirst) {
    std::array<unsigned char, 32> digest = {};
    digest[0] = 0xAB;
    digest[31] = 0x0F;
    const std::wstring text = FormatDigest(digest);
    EXPECT_EQ(text.substr(0, 4), L"ab00");
    EXPECT_EQ(text.substr(60), L"000f");
    EXPECT_EQ(text.size(), 64u);
}

} // namespace
