// Generated command lines through the request check in process: it never
// crashes, throws nothing but the process-id conversion's two exceptions,
// and whatever it accepts honours every documented invariant.

#include "app/paths.h"
#include "app/update_request.h"
#include "argument_fuzz.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(RequestFuzz, TwentyThousandGeneratedListsKeepTheInvariants) {
    const unsigned seed = 4242;
    std::mt19937 random(seed);
    int accepted = 0;
    int refused = 0;
    int thrown = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::vector<std::wstring> arguments =
            GenerateArgumentList(random, ValidRequestArguments(), 40000, false);
        std::vector<const wchar_t*> pointers;
        for (const std::wstring& argument : arguments) {
            pointers.push_back(argument.c_str());
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
        try {
            const std::optional<UpdateRequest> request =
                ParseUpdateRequest(static_cast<int>(pointers.size()), pointers.data());
            if (!request) {
                ++refused;
                continue;
            }
            ++accepted;
            ASSERT_GE(arguments.size(), 9u);
            EXPECT_NE(request->EditorProcessId, 0u);
            EXPECT_GE(request->HandoffName.size(), 20u);
            EXPECT_LE(request->HandoffName.size(), 100u);
            EXPECT_EQ(request->HandoffName.rfind(L"Local\\TavoPDFUpdate-", 0), 0u);
            EXPECT_TRUE(IsAbsolutePath(request->PackagePath));
            EXPECT_TRUE(IsAbsolutePath(request->EditorPath));
            EXPECT_TRUE(IsAbsolutePath(request->StatusFilePath));
            EXPECT_EQ(request->PackagePath.find(L'/'), std::wstring::npos);
            EXPECT_EQ(request->EditorPath.find(L'/'), std::wstring::npos);
            EXPECT_TRUE(arguments[7] == L"msi" || arguments[7] == L"exe");
            EXPECT_TRUE(EqualsIgnoringAsciiCase(LastPathComponent(request->EditorPath),
                                                L"tavoPDFEditor.exe"));
            EXPECT_EQ(request->StatusFilePath, arguments[8]);
            EXPECT_EQ(request->ExpectedChecksum, arguments[4]);
            EXPECT_EQ(request->EditorArguments.size(), arguments.size() - 9);
        } catch (const std::invalid_argument&) {
            ++thrown;
        } catch (const std::out_of_range&) {
            ++thrown;
        }
    }
    // The generator must reach all three verdicts, or it proves little.
    EXPECT_GT(accepted, 1000);
    EXPECT_GT(refused, 1000);
    EXPECT_GT(thrown, 100);
    std::printf("accepted %d, refused %d, threw %d\n", accepted, refused, thrown);
}

} // namespace
