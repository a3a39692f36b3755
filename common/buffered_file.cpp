#include "common/buffered_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tessmar {

BufferedFile::BufferedFile() = default;

BufferedFile::~BufferedFile() { Close(); }

BufferedFile::BufferedFile(BufferedFile&& other) noexcept { *this = std::move(other); }

BufferedFile& BufferedFile::operator=(BufferedFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    file_name_ = std::move(other.file_name_);
    buf_ = std::move(other.buf_);
    buf_start_ = other.buf_start_;
    buf_fill_ = other.buf_fill_;
    buf_len_ = other.buf_len_;
    dirty_ = other.dirty_;
    write_failed_ = other.write_failed_;
    last_error_ = other.last_error_;
    other.Reset();
  }
  return *this;
}

void BufferedFile::Reset() {
  buf_start_ = 0;
  buf_fill_ = 0;
  buf_len_ = 0;
  dirty_ = false;
  write_failed_ = false;
}

bool BufferedFile::Fail(int error) {
  last_error_ = error != 0 ? error : EIO;
  return false;
}

std::string BufferedFile::last_error_text() const {
  if (last_error_ == 0) return {};
  return std::strerror(last_error_);
}

bool BufferedFile::Create(const std::filesystem::path& path) {
  Close();
  last_error_ = 0;
  file_name_ = path.string().substr(0, kMaxFileNameChars);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(errno);
  fd_ = fd;
  Reset();
  if (!buf_) buf_ = std::make_unique<char[]>(kBufferSize);
  return true;
}

bool BufferedFile::OpenForReading(const std::filesystem::path& path) {
  Close();
  last_error_ = 0;
  file_name_ = path.string().substr(0, kMaxFileNameChars);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return Fail(EISDIR);
  }
  fd_ = fd;
  Reset();
  if (!buf_) buf_ = std::make_unique<char[]>(kBufferSize);
  return true;
}

bool BufferedFile::Flush() {
  if (fd_ < 0) return Fail(EBADF);
  if (!dirty_) return true;
  // The buffer is written as a whole: dropped on failure so that a full disk does not make every
  // later call retry the same bytes. The failure stays recorded for Close().
  dirty_ = false;
  return WriteAt(buf_.get(), buf_len_, buf_start_);
}

bool BufferedFile::WriteAt(const char* data, std::size_t size, int64_t position) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, data + done, size - done,
                               static_cast<off_t>(position + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      write_failed_ = true;
      return Fail(n < 0 ? errno : ENOSPC);
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool BufferedFile::WriteBytes(const void* data, std::size_t size) {
  if (fd_ < 0) return Fail(EBADF);
  bool ok = true;
  const char* src = static_cast<const char*>(data);
  if (size >= kBufferSize && buf_fill_ == buf_len_) {
    // A block at least as large as the buffer goes to the file directly, after what the buffer
    // holds, instead of being copied through it. Like a buffer, it is dropped on failure.
    if (buf_fill_ > 0) {
      if (!Flush()) ok = false;
      buf_start_ += static_cast<int64_t>(buf_fill_);
      buf_fill_ = 0;
      buf_len_ = 0;
    }
    if (!WriteAt(src, size, buf_start_)) ok = false;
    buf_start_ += static_cast<int64_t>(size);
    return ok;
  }
  while (size > 0) {
    if (buf_fill_ == kBufferSize) {
      // Buffer full: write it out and continue with an empty buffer at the current position.
      if (!Flush()) ok = false;
      buf_start_ += static_cast<int64_t>(buf_fill_);
      buf_fill_ = 0;
      buf_len_ = 0;
    }
    std::size_t n = kBufferSize - buf_fill_;
    if (n > size) n = size;
    std::memcpy(buf_.get() + buf_fill_, src, n);
    buf_fill_ += n;
    if (buf_fill_ > buf_len_) buf_len_ = buf_fill_;
    dirty_ = true;
    src += n;
    size -= n;
  }
  if (buf_fill_ == kBufferSize) {
    if (!Flush()) ok = false;
    buf_start_ += static_cast<int64_t>(buf_fill_);
    buf_fill_ = 0;
    buf_len_ = 0;
  }
  return ok;
}

int64_t BufferedFile::Seek(int64_t offset, Origin origin) {
  if (fd_ < 0) {
    Fail(EBADF);
    return -1;
  }
  int64_t base = 0;
  if (origin == Origin::kCurrent) {
    base = Position();
  } else if (origin == Origin::kEnd) {
    base = Size();
    if (base < 0) return -1;
  }
  const bool flushed = Flush();
  if (offset < 0 && base < -offset) {
    Fail(EINVAL);
    return -1;
  }
  const int64_t target = base + offset;
  buf_start_ = target;
  buf_fill_ = 0;
  buf_len_ = 0;
  return flushed ? target : -1;
}

int64_t BufferedFile::Size() {
  if (fd_ < 0) {
    Fail(EBADF);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    Fail(errno);
    return -1;
  }
  int64_t size = static_cast<int64_t>(st.st_size);
  if (dirty_) {
    const int64_t end = buf_start_ + static_cast<int64_t>(buf_len_);
    if (end > size) size = end;
  }
  return size;
}

bool BufferedFile::FillBuffer() {
  if (dirty_ && !Flush()) return false;
  buf_start_ += static_cast<int64_t>(buf_fill_);
  buf_fill_ = 0;
  buf_len_ = 0;
  for (;;) {
    const ssize_t n = ::pread(fd_, buf_.get(), kBufferSize, static_cast<off_t>(buf_start_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno);
    buf_len_ = static_cast<std::size_t>(n);
    return true;
  }
}

int64_t BufferedFile::ReadBytes(void* data, std::size_t size) {
  if (fd_ < 0) {
    Fail(EBADF);
    return -1;
  }
  char* dst = static_cast<char*>(data);
  std::size_t total = 0;
  while (total < size) {
    if (buf_fill_ >= buf_len_) {
      if (!FillBuffer()) return total > 0 ? static_cast<int64_t>(total) : -1;
      if (buf_len_ == 0) break;  // end of file
    }
    std::size_t n = buf_len_ - buf_fill_;
    if (n > size - total) n = size - total;
    std::memcpy(dst + total, buf_.get() + buf_fill_, n);
    buf_fill_ += n;
    total += n;
  }
  return static_cast<int64_t>(total);
}

bool BufferedFile::ReadLine(std::string& line, std::size_t max_chars) {
  line.clear();
  if (fd_ < 0) return Fail(EBADF);
  if (max_chars == 0) max_chars = 1;
  bool any = false;
  while (true) {
    if (buf_fill_ >= buf_len_) {
      if (!FillBuffer()) return false;
      if (buf_len_ == 0) return any;  // end of file: a last line without line end counts
    }
    const auto c = static_cast<unsigned char>(buf_[buf_fill_]);
    if (IsLineEndChar(c)) {
      ++buf_fill_;
      if (buf_fill_ >= buf_len_ && !FillBuffer()) return true;
      if (buf_fill_ < buf_len_ && JoinsLineEnd(c, static_cast<unsigned char>(buf_[buf_fill_]))) {
        ++buf_fill_;
      }
      return true;
    }
    if (line.size() >= max_chars) return true;  // over-long: the rest is the next line
    line += static_cast<char>(c);
    any = true;
    ++buf_fill_;
  }
}

bool BufferedFile::Close() {
  if (fd_ < 0) return true;
  bool ok = Flush();
  if (write_failed_) ok = false;
  if (::close(fd_) != 0) ok = Fail(errno);
  fd_ = -1;
  Reset();
  return ok;
}

}  // namespace tessmar
