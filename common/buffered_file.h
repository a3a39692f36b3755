#pragma once
// A small buffered file used by every output writer and by readers that go through a file line by
// line or in blocks. Writes collect in a 65,536-byte buffer that is flushed when it is full, before
// every seek and at close; a write reports success only when every flush it caused succeeded, so a
// full disk is seen by the write that hit it (and again by Close()).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "common/text_readers.h"

namespace tessmar {

class BufferedFile {
 public:
  static constexpr std::size_t kBufferSize = 65536;
  static constexpr std::size_t kMaxFileNameChars = 512;

  enum class Origin { kBegin, kCurrent, kEnd };

  BufferedFile();
  ~BufferedFile();  // closes the file (errors of that last flush are lost: call Close() first)
  BufferedFile(BufferedFile&& other) noexcept;
  BufferedFile& operator=(BufferedFile&& other) noexcept;
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;

  // Creates the file or truncates an existing one, for writing (reading back is possible too).
  [[nodiscard]] bool Create(const std::filesystem::path& path);
  // Opens an existing file for reading.
  [[nodiscard]] bool OpenForReading(const std::filesystem::path& path);

  [[nodiscard]] bool WriteText(std::string_view text) {
    return WriteBytes(text.data(), text.size());
  }
  [[nodiscard]] bool WriteBytes(const void* data, std::size_t size);

  // Moves the file position; returns the new position or -1.
  int64_t Seek(int64_t offset, Origin origin = Origin::kBegin);
  // Current file position (where the next read or write happens).
  int64_t Position() const { return buf_start_ + static_cast<int64_t>(buf_fill_); }
  // Size of the file including data still in the buffer; -1 on failure.
  int64_t Size();

  // Reads up to size bytes; returns the number read (0 at the end of the file) or -1 on failure.
  int64_t ReadBytes(void* data, std::size_t size);

  // Reads one text line by the line rules of text_readers.h (CR, LF or another control character
  // ends it, CR LF counts once, at most max_chars characters). False at the end of the file or on
  // a read error (see last_error()).
  bool ReadLine(std::string& line, std::size_t max_chars = kMaxTextLineChars);

  // Writes buffered data to the file.
  [[nodiscard]] bool Flush();
  // Flushes and closes. True when the file was closed without any failed write since it was
  // opened. Closing a closed file does nothing and returns true.
  bool Close();

  bool is_open() const { return fd_ >= 0; }
  const std::string& file_name() const { return file_name_; }
  // Last system error code (errno) of a failed operation, 0 if none.
  int last_error() const { return last_error_; }
  // Text of the last system error, empty if none.
  std::string last_error_text() const;

 private:
  bool FillBuffer();
  bool Fail(int error);
  // Writes size bytes at a file position, all of them or fails.
  bool WriteAt(const char* data, std::size_t size, int64_t position);
  void Reset();

  int fd_ = -1;
  std::string file_name_;
  std::unique_ptr<char[]> buf_;
  int64_t buf_start_ = 0;      // file position of the first buffer byte
  std::size_t buf_fill_ = 0;   // current position inside the buffer
  std::size_t buf_len_ = 0;    // valid bytes in the buffer
  bool dirty_ = false;         // buffer holds bytes not yet written
  bool write_failed_ = false;  // some flush failed since the file was opened
  int last_error_ = 0;
};

}  // namespace tessmar
