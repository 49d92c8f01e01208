// The output queue: byte segments and byte sources in order.
#include "output_queue.h"

#include <utility>

namespace halv {

void OutputQueue::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  if (segments_.empty() || segments_.back().source) {
    segments_.emplace_back();
  } else if (segments_.size() == 1 && offset_ > kSourceChunk &&
             offset_ * 2 > segments_.back().bytes.size()) {
    // A partly sent segment that keeps growing: drop its sent part.
    segments_.back().bytes.erase(0, offset_);
    offset_ = 0;
  }
  segments_.back().bytes.append(bytes);
  queued_ += bytes.size();
}

void OutputQueue::AppendSource(std::unique_ptr<ByteSource> source) {
  if (!source) return;
  Segment segment;
  segment.source = std::move(source);
  segments_.push_back(std::move(segment));
  ++sources_;
}

void OutputQueue::ReadSource() {
  Segment& front = segments_.front();
  std::string chunk(kSourceChunk, '\0');
  const long count = front.source->Read(chunk.data(), chunk.size());
  if (count <= 0) {
    segments_.pop_front();  // closes the source
    --sources_;
    return;
  }
  chunk.resize(static_cast<std::size_t>(count));
  queued_ += chunk.size();
  Segment segment;
  segment.bytes = std::move(chunk);
  segments_.push_front(std::move(segment));
}

void OutputQueue::Flush() {
  while (!blocked_ && !segments_.empty()) {
    if (segments_.front().source) {
      ReadSource();
      continue;
    }
    const std::string& bytes = segments_.front().bytes;
    std::size_t taken = 0;
    try {
      taken = socket_.Send(bytes.data() + offset_, bytes.size() - offset_);
    } catch (...) {
      Release();
      throw;
    }
    if (taken == 0) {
      blocked_ = true;
      return;
    }
    offset_ += taken;
    queued_ -= taken;
    if (offset_ == bytes.size()) {
      segments_.pop_front();
      offset_ = 0;
    }
  }
}

void OutputQueue::Writable() {
  blocked_ = false;
  Flush();
}

void OutputQueue::Release() {
  segments_.clear();
  offset_ = 0;
  queued_ = 0;
  sources_ = 0;
}

}  // namespace halv
