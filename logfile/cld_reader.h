#pragma once
// Buffered reader of logger data files (.cld): text header lines, the optional 512-byte binary
// logfile header and the entry stream, all through one 64 KiB buffer.
//
// Entries are returned as views into the buffer, valid until the next read, so reading allocates
// nothing per entry. A BULK block is returned whole (up to 65536 bytes).

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

#include "logfile/decode_messages.h"
#include "logfile/log_entry.h"

namespace tessmar {

// Fields of the binary logfile header. Used for reporting only.
struct BinaryLogHeader {
  bool present = false;
  // The file ends inside the header: fewer than 512 bytes follow the "[BINARY_LOG_DATA]" line
  // and they begin as the signature does. Such a file holds no entries (present stays false).
  bool cut_short = false;
  uint32_t dwFilePosForNextWrite = 0;
  uint32_t dwCountWrittenEntries = 0;
  uint32_t dwCountReceivedMsgs = 0;
  uint32_t dwCountCanIRQs = 0;
  uint32_t dwCountLostMessages = 0;
  uint32_t wLastMessageLostInLine = 0;  // reported as "LastLostAt"
  uint16_t wCpuLoadIndicator[8] = {};   // percent
  char FirmwareCompileDate[17] = {};    // NUL-terminated
  int32_t FirmwareArticleNumber = 0;
};

inline constexpr int kBinaryHeaderSize = 512;
// The signature, including its terminating zero byte (37 bytes).
inline constexpr char kBinaryHeaderSignature[] = "BinaryLogfileHeader\r\nSize=512 byte\r\n";

// Decodes a binary header from 512 bytes; present = false when the signature does not match.
// Fewer bytes that begin as the signature does give cut_short.
BinaryLogHeader DecodeBinaryHeader(const uint8_t* bytes, int size);

// One entry of the stream.
struct LogEntry {
  const uint8_t* bytes = nullptr;  // the entry (16 bytes, or the whole BULK block); until next read
  uint32_t size = 0;     // bytes it occupies in the file (16, or a BULK block's rounded length)
  uint32_t length = 0;   // 16, or a BULK block's stated length
  int64_t position = 0;  // file position of byte 0
  uint32_t index = 0;    // entry index counted from the first entry
  EntryClass cls = EntryClass::kUnknownData;
};

class CldReader {
 public:
  static constexpr int kBufferSize = 65536;
  static constexpr int kMaxHeaderLine = 254;

  CldReader() = default;
  ~CldReader();
  CldReader(const CldReader&) = delete;
  CldReader& operator=(const CldReader&) = delete;

  // Opens the file for reading and positions at its start. False when it cannot be opened.
  [[nodiscard]] bool Open(const std::filesystem::path& path);
  // The system's error number of the last Open() that failed, 0 after one that worked.
  int open_error() const { return open_errno_; }
  // Reads from a stream that is already open (taken over: the reader closes it); name is the
  // file name shown in messages. False when stream is null.
  [[nodiscard]] bool Open(std::FILE* stream, const std::string& name);
  // Reads a recording held in memory; name is the file name shown in messages. The bytes must
  // stay in place until the reader is closed.
  [[nodiscard]] bool OpenMemory(std::span<const uint8_t> bytes, const std::string& name);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // Total size in bytes.
  int64_t FileSize() const { return file_size_; }
  // True after reading the file failed (an I/O error, not its end). The failure is reported
  // once ("Error: Could not read ..."), and the reader then delivers nothing more, also after
  // SetPosition(), so that no caller takes the data read so far for the whole file.
  bool ReadFailed() const { return read_errno_ != 0; }

  // Reads one text line (at most 254 characters are kept, the rest of a longer line is dropped).
  // CR LF, LF, CR and LF CR end a line. False at the end of the file when nothing was read.
  bool ReadLine(std::string* line);

  // Reads the binary logfile header at binary_position and sets the first entry position:
  // binary_position + 512 when the signature matched, else binary_position. Positions the reader
  // at the first entry.
  BinaryLogHeader ReadBinaryHeader(int64_t binary_position);
  int64_t FirstEntryPosition() const { return first_entry_; }
  void SetFirstEntryPosition(int64_t position) { first_entry_ = position; }

  // Winds to a file position. The entry index of the next entry becomes
  // (position - first entry position) / 16, or `index` when given.
  bool SetPosition(int64_t position);
  bool SetPosition(int64_t position, uint32_t index);
  // Position of the next read.
  int64_t Position() const { return buffer_start_ + static_cast<int64_t>(cursor_); }
  // Index the next entry will get.
  uint32_t NextIndex() const { return next_index_; }

  // Reads the next entry. False at the end of the data: fewer than 16 bytes left, or a BULK
  // block that the end of the file cuts off (reported once per file when `messages` is given).
  bool NextEntry(LogEntry* entry, DecodeMessages* messages = nullptr) {
    if (cursor_ + kEntrySize <= fill_) {
      const uint8_t* e = buffer_.data() + cursor_;
      const EntryClass cls = ClassifyEntry(e);
      if (!IsBulkBlock(cls)) return Deliver(entry, e, cls, kEntrySize, kEntrySize);
    }
    return NextEntrySlow(entry, messages);
  }

 private:
  bool NextEntrySlow(LogEntry* entry, DecodeMessages* messages);
  // Hands out the entry at the cursor (its bytes `e` in the buffer) and moves past it.
  bool Deliver(LogEntry* entry, const uint8_t* e, EntryClass cls, uint32_t size, uint32_t length) {
    entry->bytes = e;
    entry->size = size;
    entry->length = length;
    entry->position = buffer_start_ + static_cast<int64_t>(cursor_);
    entry->index = next_index_++;
    entry->cls = cls;
    cursor_ += size;
    return true;
  }
  // Makes at least `want` bytes available from the cursor when the file has them; returns the
  // number available.
  size_t Ensure(size_t want);
  void NoteReadError(int error);

  std::FILE* file_ = nullptr;
  int64_t file_size_ = 0;
  int64_t first_entry_ = 0;
  std::array<uint8_t, kBufferSize> buffer_{};
  int64_t buffer_start_ = 0;  // file position of buffer_[0]
  size_t fill_ = 0;           // valid bytes in the buffer
  size_t cursor_ = 0;         // next byte to read
  uint32_t next_index_ = 0;
  bool eof_ = false;    // the file has no bytes beyond the buffer
  int read_errno_ = 0;  // errno of a failed read, 0 = none
  int open_errno_ = 0;  // errno of a failed open, 0 = none
  std::string path_;    // for the read error message
};

}  // namespace tessmar
