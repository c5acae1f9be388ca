// Byte streams read from the start to the end: what the socket layer sends with SendFromStream
// and the file server serves. A memory stream lives here; the Windows file stream sits in
// file_stream_win32.h.
#pragma once

#include <cstdint>
#include <string>

class TStream {
  public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    virtual std::int64_t Size() = 0;
    virtual std::int64_t Position() = 0;
    virtual void SetPosition(std::int64_t position) = 0;
    // Reads up to `count` bytes at the position and advances it; returns the number read
    // (0 at the end). A source that fails raises EBrenloError; a stream that returns 0 before
    // its Size is taken as failed by the socket layer.
    virtual int Read(void* buffer, int count) = 0;
};

class TMemoryStream : public TStream {
  public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::string data) : data_(std::move(data)) {}

    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
    std::int64_t Position() override { return position_; }
    void SetPosition(std::int64_t position) override;
    int Read(void* buffer, int count) override;

    const std::string& Data() const { return data_; }

  private:
    std::string data_;
    std::int64_t position_ = 0;
};
