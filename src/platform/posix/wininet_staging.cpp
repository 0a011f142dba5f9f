#include "platform/posix/wininet_staging.h"

#include <algorithm>
#include <cstring>

namespace holwerk::posix {

// Not zero-filled: only bytes copied in are ever read, and a small body then
// touches a page of the buffer instead of all of it.
StagingBuffer::StagingBuffer(std::size_t capacity)
    : bytes_(std::make_unique_for_overwrite<char[]>(capacity)), capacity_(capacity) {}

bool StagingBuffer::Append(const char* data, std::size_t size) {
    if (size > capacity_ - end_) {
        if (!Empty()) return false;
        // Empty, the buffer starts at its front again: only a piece larger
        // than the whole room needs more.
        bytes_ = std::make_unique_for_overwrite<char[]>(size);
        capacity_ = size;
    }
    std::memcpy(bytes_.get() + end_, data, size);
    end_ += size;
    return true;
}

std::size_t StagingBuffer::Take(char* buffer, std::size_t capacity) {
    const std::size_t count = std::min(capacity, end_ - begin_);
    if (count == 0) return 0;
    std::memcpy(buffer, bytes_.get() + begin_, count);
    begin_ += count;
    if (begin_ == end_) begin_ = end_ = 0;
    return count;
}

}  // namespace holwerk::posix
