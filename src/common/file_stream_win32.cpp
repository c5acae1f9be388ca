// Windows file stream: a plain handle read sequentially, with seeking for the socket layer's
// rewind after a refused piece.
#include "common/file_stream_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "common/system_calls_win32.h"
#include "common/unique_handle_win32.h"

namespace {

class TWinFileStream : public TStream {
  public:
    // Nobody may write the file while it is open, so its size is taken once. The file is read in
    // large blocks: the socket layer takes 4096 bytes a piece and rewinds after a refused piece,
    // and serving both from the block saves a system call per piece.
    explicit TWinFileStream(UniqueFile file) : file_(std::move(file)) {
        LARGE_INTEGER size{};
        size_ = GetFileSizeEx(file_.get(), &size) ? size.QuadPart : 0;
    }

    std::int64_t Size() override { return size_; }
    std::int64_t Position() override { return position_; }
    void SetPosition(std::int64_t position) override { position_ = position < 0 ? 0 : position; }
    int Read(void* buffer, int count) override {
        char* out = static_cast<char*>(buffer);
        int done = 0;
        while (done < count) {
            if (position_ < blockStart_ || position_ >= blockStart_ + blockLength_) {
                if (!LoadBlockAt(position_))
                    break;
            }
            const std::int64_t offset = position_ - blockStart_;
            const int take =
                static_cast<int>(std::min<std::int64_t>(count - done, blockLength_ - offset));
            std::memcpy(out + done, block_.data() + offset, static_cast<size_t>(take));
            done += take;
            position_ += take;
        }
        return done;
    }

  private:
    static constexpr DWORD kBlockSize = 64 * 1024;

    // False at the end of the file; raises EBrenloError when the file cannot be read (a network
    // drive that went away, a locked region): that is no end of the file.
    bool LoadBlockAt(std::int64_t position) {
        LARGE_INTEGER distance{};
        distance.QuadPart = position;
        DWORD got = 0;
        blockLength_ = 0;
        if (!SetFilePointerEx(file_.get(), distance, nullptr, FILE_BEGIN) ||
            !SystemCalls().ReadFile(file_.get(), block_.data(), kBlockSize, &got, nullptr)) {
            throw EBrenloError("Die Datei kann nicht gelesen werden (Fehler " +
                               std::to_string(GetLastError()) + ").");
        }
        if (got == 0)
            return false;
        blockStart_ = position;
        blockLength_ = got;
        return true;
    }

    UniqueFile file_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::vector<char> block_ = std::vector<char>(kBlockSize);
    std::int64_t blockStart_ = 0;
    std::int64_t blockLength_ = 0;
};

}  // namespace

std::unique_ptr<TStream> OpenFileStreamForReading(const std::string& path) {
    // Owned from here: closed even when the stream's read buffer cannot be allocated.
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        throw EBrenloError("Datei \"" + path +
                           "\" kann nicht ge\xf6"
                           "ffnet werden");
    return std::make_unique<TWinFileStream>(std::move(file));
}
