#include "logfile/cld_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/message_output.h"

namespace tessmar {

BinaryLogHeader DecodeBinaryHeader(const uint8_t* bytes, int size) {
  BinaryLogHeader h;
  if (size < kBinaryHeaderSize) {
    const int compared = std::min<int>(size, static_cast<int>(sizeof kBinaryHeaderSignature));
    h.cut_short = size > 0 && std::memcmp(bytes, kBinaryHeaderSignature,
                                          static_cast<std::size_t>(compared)) == 0;
    return h;
  }
  // Exact comparison including the zero byte at offset 36.
  if (std::memcmp(bytes, kBinaryHeaderSignature, sizeof kBinaryHeaderSignature) != 0) return h;
  h.present = true;
  h.dwFilePosForNextWrite = Le32(bytes + 64);
  h.dwCountWrittenEntries = Le32(bytes + 68);
  h.dwCountReceivedMsgs = Le32(bytes + 128);
  h.dwCountCanIRQs = Le32(bytes + 132);
  h.dwCountLostMessages = Le32(bytes + 136);
  h.wLastMessageLostInLine = Le32(bytes + 140);
  for (int i = 0; i < 8; ++i) h.wCpuLoadIndicator[i] = Le16(bytes + 144 + 2 * i);
  std::memcpy(h.FirmwareCompileDate, bytes + 160, 16);
  h.FirmwareCompileDate[16] = '\0';
  h.FirmwareArticleNumber = static_cast<int32_t>(Le32(bytes + 176));
  return h;
}

CldReader::~CldReader() { Close(); }

bool CldReader::Open(const std::filesystem::path& path) {
  errno = 0;
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  const int error = errno != 0 ? errno : EIO;
  const bool ok = Open(stream, path.string());
  open_errno_ = ok ? 0 : error;
  return ok;
}

bool CldReader::Open(std::FILE* stream, const std::string& name) {
  Close();
  file_ = stream;
  if (file_ == nullptr) return false;
  path_ = name;
  read_errno_ = 0;
  std::setvbuf(file_, nullptr, _IONBF, 0);  // this class is the buffer
  if (fseeko(file_, 0, SEEK_END) == 0) file_size_ = ftello(file_);
  if (file_size_ < 0) file_size_ = 0;
  first_entry_ = 0;
  buffer_start_ = 0;
  fill_ = cursor_ = 0;
  next_index_ = 0;
  eof_ = false;
  std::rewind(file_);
  return true;
}

bool CldReader::OpenMemory(std::span<const uint8_t> bytes, const std::string& name) {
  // A read-only memory stream: the bytes go through the same buffering, seeking and error
  // paths as a file's.
  static const uint8_t kNoBytes = 0;
  void* data = const_cast<uint8_t*>(bytes.empty() ? &kNoBytes : bytes.data());
  return Open(fmemopen(data, bytes.size(), "rb"), name);
}

void CldReader::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  file_size_ = 0;
  fill_ = cursor_ = 0;
  buffer_start_ = 0;
  eof_ = true;
}

bool CldReader::SetPosition(int64_t position) {
  const int64_t rel = position - first_entry_;
  return SetPosition(position, rel > 0 ? static_cast<uint32_t>(rel / kEntrySize) : 0);
}

bool CldReader::SetPosition(int64_t position, uint32_t index) {
  next_index_ = index;
  if (position < 0) position = 0;
  // Stay within the buffer when the target is already in it.
  if (file_ != nullptr && position >= buffer_start_ &&
      position <= buffer_start_ + static_cast<int64_t>(fill_)) {
    cursor_ = static_cast<size_t>(position - buffer_start_);
    return true;
  }
  buffer_start_ = position;
  fill_ = cursor_ = 0;
  eof_ = read_errno_ != 0;
  if (file_ == nullptr) {
    eof_ = true;
    return false;
  }
  if (fseeko(file_, position, SEEK_SET) != 0) {
    eof_ = true;
    return false;
  }
  return true;
}

size_t CldReader::Ensure(size_t want) {
  size_t avail = fill_ - cursor_;
  if (avail >= want || eof_ || file_ == nullptr) return avail;
  // Move the unread rest to the front, then fill up.
  if (cursor_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + cursor_, avail);
    buffer_start_ += static_cast<int64_t>(cursor_);
    cursor_ = 0;
    fill_ = avail;
  }
  while (fill_ < want && !eof_) {
    errno = 0;
    const size_t n = std::fread(buffer_.data() + fill_, 1, buffer_.size() - fill_, file_);
    if (n == 0) {
      eof_ = true;
      if (std::ferror(file_)) NoteReadError(errno != 0 ? errno : EIO);
    }
    fill_ += n;
  }
  return fill_ - cursor_;
}

void CldReader::NoteReadError(int error) {
  if (read_errno_ != 0) return;
  read_errno_ = error;
  ShowMessageF(kMsgError, "Error: Could not read \"%s\" at filepos=0x%08lX (%s) !", path_.c_str(),
               static_cast<unsigned long>(buffer_start_ + static_cast<int64_t>(fill_)),
               std::strerror(error));
}

bool CldReader::ReadLine(std::string* line) {
  line->clear();
  bool any = false;
  for (;;) {
    if (cursor_ >= fill_ && Ensure(1) == 0) return any;
    const uint8_t c = buffer_[cursor_++];
    any = true;
    if (c == '\r' || c == '\n') {
      const uint8_t pair = c == '\r' ? '\n' : '\r';
      if ((cursor_ < fill_ || Ensure(1) > 0) && buffer_[cursor_] == pair) ++cursor_;
      return true;
    }
    if (line->size() < static_cast<size_t>(kMaxHeaderLine)) line->push_back(static_cast<char>(c));
  }
}

BinaryLogHeader CldReader::ReadBinaryHeader(int64_t binary_position) {
  SetPosition(binary_position, 0);
  const size_t avail = Ensure(kBinaryHeaderSize);
  const int n = static_cast<int>(avail < kBinaryHeaderSize ? avail : kBinaryHeaderSize);
  BinaryLogHeader h = DecodeBinaryHeader(buffer_.data() + cursor_, n);
  first_entry_ = h.present ? binary_position + kBinaryHeaderSize : binary_position;
  SetPosition(first_entry_, 0);
  return h;
}

bool CldReader::NextEntrySlow(LogEntry* entry, DecodeMessages* messages) {
  if (Ensure(kEntrySize) < static_cast<size_t>(kEntrySize)) return false;
  const uint8_t* e = buffer_.data() + cursor_;
  const EntryClass cls = ClassifyEntry(e);
  uint32_t length = kEntrySize;
  uint32_t size = kEntrySize;
  if (IsBulkBlock(cls)) {
    length = BulkLength(e);
    size = BulkSlotLength(length);
    if (Ensure(size) < size) {
      if (messages != nullptr && !messages->truncated_entry_reported) {
        messages->truncated_entry_reported = true;
        ShowMessageF(kMsgWarning,
                     "Warning: Block at filepos=0x%08lX runs past the end of the file "
                     "(%lu bytes stated); ignored the rest of the file.",
                     static_cast<unsigned long>(Position()), static_cast<unsigned long>(length));
      }
      return false;
    }
    e = buffer_.data() + cursor_;  // Ensure may have moved the bytes
  }
  return Deliver(entry, e, cls, size, length);
}

}  // namespace tessmar
