// Windows file stream: a plain handle read sequentially, with seeking for the socket layer's
// rewind after a refused piece.
#include "common/file_stream_win32.h"

#include <windows.h>

#include "common/errors.h"

namespace {

class TWinFileStream : public TStream {
  public:
    // Nobody may write the file while it is open, so its size is taken once; the position is
    // kept here, which saves two system calls per piece the socket layer sends.
    explicit TWinFileStream(HANDLE file) : file_(file) {
        LARGE_INTEGER size{};
        size_ = GetFileSizeEx(file_, &size) ? size.QuadPart : 0;
    }
    ~TWinFileStream() override { CloseHandle(file_); }

    std::int64_t Size() override { return size_; }
    std::int64_t Position() override { return position_; }
    void SetPosition(std::int64_t position) override {
        if (position != position_)
            position_ = Seek(position, FILE_BEGIN);
    }
    int Read(void* buffer, int count) override {
        DWORD got = 0;
        if (count <= 0 || !ReadFile(file_, buffer, static_cast<DWORD>(count), &got, nullptr))
            return 0;
        position_ += got;
        return static_cast<int>(got);
    }

  private:
    std::int64_t Seek(std::int64_t offset, DWORD origin) {
        LARGE_INTEGER distance{}, result{};
        distance.QuadPart = offset;
        return SetFilePointerEx(file_, distance, &result, origin) ? result.QuadPart : 0;
    }

    HANDLE file_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

}  // namespace

std::unique_ptr<TStream> OpenFileStreamForReading(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw EBrenloError("Datei \"" + path +
                           "\" kann nicht ge\xf6"
                           "ffnet werden");
    return std::make_unique<TWinFileStream>(file);
}
