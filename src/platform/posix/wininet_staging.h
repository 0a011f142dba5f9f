#pragma once

// The body bytes one HTTP transfer has received and its caller not yet
// read. Used by HttpTransfer only.

#include <cstddef>
#include <memory>

namespace holwerk::posix {

/// A byte queue of fixed room: data is appended at the back and taken from
/// the front; once taken out entirely, the room is whole again. Bytes are
/// appended only while the caller drains nothing, so waiting bytes are never
/// moved to make room.
class StagingBuffer {
  public:
    explicit StagingBuffer(std::size_t capacity);

    /// Whether no byte waits.
    bool Empty() const { return end_ == begin_; }

    /// Appends `size` bytes; false, with nothing taken, when they do not fit
    /// behind the waiting ones. An empty buffer takes a piece of any size,
    /// growing once to it.
    bool Append(const char* data, std::size_t size);

    /// Moves up to `capacity` waiting bytes into `buffer`; returns how many.
    std::size_t Take(char* buffer, std::size_t capacity);

  private:
    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;  // waiting bytes: [begin_, end_)
    std::size_t end_ = 0;
};

}  // namespace holwerk::posix
