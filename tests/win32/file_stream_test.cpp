// The Windows file stream that the socket layer sends from: sizes, reads in pieces with the
// rewinds of refused pieces, write sharing denied, and a clear failure for a missing file.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "common/errors.h"
#include "common/file_stream_win32.h"
#include "process_util.h"

// An allocation of exactly this many bytes fails (0: none does); for the read buffer's failure.
std::atomic<std::size_t> g_failAllocationOf{0};

void* operator new(std::size_t size) {
    if (size != 0 && size == g_failAllocationOf.load())
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

namespace {

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    std::mt19937 random(7);
    for (char& c : data)
        c = static_cast<char>(random());
    return data;
}

TEST(FileStream, PiecesWithRandomRewindsReadEveryByteOnceInOrder) {
    // Larger than several read blocks and not a multiple of the piece size.
    const std::string data = Pattern(3 * 64 * 1024 + 12345);
    const std::string path = testutil::TempFile("stream.bin", data);
    auto stream = OpenFileStreamForReading(path);
    ASSERT_EQ(stream->Size(), static_cast<std::int64_t>(data.size()));

    std::mt19937 random(11);
    std::string received;
    char piece[4096];
    while (true) {
        const std::int64_t start = stream->Position();
        const int n = stream->Read(piece, sizeof piece);
        if (n <= 0)
            break;
        // The peer takes only part of the piece now and then; the rest is read again.
        const int taken = random() % 3 == 0 ? static_cast<int>(random() % (n + 1)) : n;
        received.append(piece, static_cast<size_t>(taken));
        stream->SetPosition(start + taken);
        ASSERT_EQ(stream->Position(), start + taken);
    }
    EXPECT_EQ(stream->Position(), stream->Size());
    EXPECT_TRUE(received == data) << "received " << received.size() << " of " << data.size();
}

TEST(FileStream, DeniesWritersWhileOpenAndNamesAMissingFile) {
    const std::string path = testutil::TempFile("locked.bin", "abc");
    {
        auto stream = OpenFileStreamForReading(path);
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        if (writer != INVALID_HANDLE_VALUE)
            CloseHandle(writer);
    }
    const std::string missing = testutil::BuildDir() + "\\testdata\\no such file.mp3";
    try {
        OpenFileStreamForReading(missing);
        FAIL() << "a missing file opened";
    } catch (const EBrenloError& e) {
        EXPECT_NE(std::string(e.what()).find("no such file.mp3"), std::string::npos) << e.what();
    }
}

TEST(FileStream, AReadErrorInTheMiddleIsRaisedNotTakenForTheEnd) {
    const std::string data = Pattern(4 * 64 * 1024);
    const std::string path = testutil::TempFile("midfail.bin", data);
    auto stream = OpenFileStreamForReading(path);
    testutil::FailReadFileAfter(2);  // the third block fails, as a vanished network file would
    std::string received;
    char piece[4096];
    try {
        for (int n; (n = stream->Read(piece, sizeof piece)) > 0;)
            received.append(piece, static_cast<size_t>(n));
        ADD_FAILURE() << "the stream ended after " << received.size() << " bytes";
    } catch (const EBrenloError& e) {
        EXPECT_NE(std::string(e.what()).find("nicht gelesen"), std::string::npos) << e.what();
    }
    testutil::FailReadFileAfter(-1);
    EXPECT_EQ(received.size(), 2u * 64 * 1024);
}

TEST(FileStream, TheFileIsClosedWhenTheReadBufferCannotBeAllocated) {
    const std::string path = testutil::TempFile("nobuffer.bin", "abc");
    g_failAllocationOf = 64 * 1024;
    EXPECT_THROW(OpenFileStreamForReading(path), std::bad_alloc);
    g_failAllocationOf = 0;
    // Only possible when no handle of the failed stream is left open.
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "the file handle leaked";
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
}

}  // namespace
