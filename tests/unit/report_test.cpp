// The status file holds exactly the UTF-8 bytes of its last text.

#include "editor_side.h"
#include "report/status_file.h"

#include <gtest/gtest.h>

namespace {

TEST(StatusFile, EachWriteLeavesExactlyItsUtf8Text) {
    const std::wstring path = MakeWorkFolder(L"status") + L"\\status.txt";
    WriteStatusFile(path, L"é中\U0001F600");
    EXPECT_EQ(ReadBytes(path), "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

} // namespace
