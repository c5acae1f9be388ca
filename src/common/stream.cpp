// Memory stream.
#include "common/stream.h"

#include <algorithm>
#include <cstring>

void TMemoryStream::SetPosition(std::int64_t position) {
    position_ = std::clamp<std::int64_t>(position, 0, Size());
}

int TMemoryStream::Read(void* buffer, int count) {
    if (count <= 0 || position_ >= Size())
        return 0;
    const std::int64_t n = std::min<std::int64_t>(count, Size() - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return static_cast<int>(n);
}
