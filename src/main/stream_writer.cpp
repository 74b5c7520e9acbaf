#include "main/stream_writer.hpp"

#include "main/platform.hpp"

namespace qovrin::main {

Status StreamWriter::flush() {
  if (buffer_.empty()) return {};
  if (beforeFlush_) beforeFlush_();
  const bool written = platform::writeAll(fd_, buffer_);
  buffer_.clear();
  if (afterFlush_) afterFlush_();
  if (!written) return fail(Error::WriteFailed);
  return {};
}

}  // namespace qovrin::main
