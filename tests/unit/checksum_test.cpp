// The package checksum over real files, read through the handle the run
// holds. Expected digests were computed outside Windows (Python's hashlib).
// Missing, empty, locked and unchangeable packages run end to end.

#include "editor_side.h"
#include "verify/checksum.h"

#include <gtest/gtest.h>

namespace {

const std::wstring AbcDigest = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

bool Verify(const std::wstring& path, const std::wstring& expected) {
    const UniqueHandle package = OpenPackageFile(path);
    return package.get() != INVALID_HANDLE_VALUE && VerifyPackageChecksum(package.get(), expected);
}

TEST(PackageChecksum, ExpectedTextIsJudgedByLengthCaseAndDigits) {
    const std::wstring path = MakeWorkFolder(L"checksum") + L"\\package.bin";
    WriteBytes(path, "abc");
    const std::pair<std::wstring, bool> cases[] = {
        {AbcDigest, true},
        {L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", true},
        {L"Ba7816bF8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015Ad", true},
        {AbcDigest.substr(0, 63), false},
        {AbcDigest + L"0", false},
        {L"ba7816bf8f 1cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", false},
        {L"ga7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", false},
        {std::wstring(64, L'0'), false},
    };
    for (const auto& [expected, verdict] : cases) {
        EXPECT_EQ(Verify(path, expected), verdict) << testing::PrintToString(expected);
    }
}

// The pattern (i * 31 + 7) mod 256 over 3 MiB + 5 bytes: more than one read.
TEST(PackageChecksum, PackageLargerThanOneReadIsHashedWhole) {
    std::string bytes(3 * 1048576 + 5, '\0');
    for (size_t index = 0; index < bytes.size(); ++index) {
        bytes[index] = static_cast<char>((index * 31 + 7) & 0xFF);
    }
    const std::wstring path = MakeWorkFolder(L"checksum") + L"\\package.bin";
    WriteBytes(path, bytes);
    EXPECT_TRUE(Verify(path, L"aacbf7fdf74148b96f47b5a44d8be9f8d52b59c291c5f60cfb68671b58059e56"));
}

// Sparse files of exactly 2 GiB of zeros and one byte more: the limit is
// inclusive.
TEST(PackageChecksum, TwoGibibytesPassAndOneByteMoreIsRefused) {
    const std::wstring twoGiBZeros =
        L"a7c744c13cc101ed66c29f672f92455547889cc586ce6d44fe76ae824958ea51";
    const std::wstring folder = MakeWorkFolder(L"checksum");
    for (const LONGLONG extra : {0LL, 1LL}) {
        const std::wstring path = folder + L"\\sparse.bin";
        {
            const UniqueHandle file =
                OwnHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
            LARGE_INTEGER end;
            end.QuadPart = 2147483648LL + extra;
            SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN);
            SetEndOfFile(file.get());
        }
        EXPECT_EQ(Verify(path, twoGiBZeros), extra == 0) << "2 GiB + " << extra;
        DeleteFileW(path.c_str());
    }
}

} // namespace
