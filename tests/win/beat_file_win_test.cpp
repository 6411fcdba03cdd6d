// "bpm.txt" as an overlay reading it sees it, in a folder of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/platform.h"
#include "tests/win/beat_file_readers.h"
#include "tests/win/win_test_support.h"

namespace {

class BeatFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDirectoryA("beat-file", nullptr);
        ASSERT_TRUE(SetCurrentDirectoryA("beat-file"));
        DeleteFileA("bpm.txt");
    }
    void TearDown() override { SetCurrentDirectoryA(".."); }

    // The names in the current folder.
    static std::vector<std::string> FolderContents() {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA("*", &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }
};

TEST_F(BeatFileTest, AReaderPollingItFindsOnlyWholeValues) {
    ReaderCounts c = ReadWhileRewriting(1500, 0, ReaderSharing::WithDelete, 60, 99);
    EXPECT_GT(c.reads, 100u);
    EXPECT_EQ(c.empty, 0u);
    EXPECT_EQ(c.missing, 0u);
    EXPECT_EQ(c.busy, 0u);
    EXPECT_EQ(c.foreign, 0u);
    EXPECT_EQ(FolderContents(), std::vector<std::string>{"bpm.txt"});
}

TEST_F(BeatFileTest, AReaderHoldingItOpenWithoutDeleteSharingMissesNoValue) {
    WriteBeatRateFile("60", 2);
    // As the C runtime's fopen opens a file: no delete sharing, so the file
    // cannot be replaced while this handle is open.
    HANDLE reader = CreateFileA("bpm.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    for (std::string value : {"72", "72", "100", "9", "254", "61"}) {
        WriteBeatRateFile(value.data(), static_cast<int>(value.size()));
        std::string content;
        EXPECT_TRUE(ReadWholeFile("bpm.txt", &content));
        EXPECT_EQ(content, value);
        EXPECT_EQ(FolderContents(), std::vector<std::string>{"bpm.txt"});
    }
    CloseHandle(reader);
}

}  // namespace
