#include "writers/mdf4_writer.h"

#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <span>
#include <string_view>

#include "common/message_output.h"
#include "common/version.h"
#include "config/canlog_config.h"
#include "logfile/log_entry.h"
#include "writers/block_buffer.h"
#include "writers/vector_mdf_writer.h"
#include "writers/writer_common.h"

namespace tessmar {

namespace {

constexpr std::uint64_t kBlockHeadBytes = 24;  // id, reserved, length, link count
constexpr std::uint64_t kHdPosition = 64;
constexpr int kHdLinks = 6;
constexpr std::uint64_t kHdStartTimePosition = kHdPosition + kBlockHeadBytes + 8 * kHdLinks;
constexpr int kDgLinks = 4;
constexpr int kCgLinks = 6;
constexpr int kCnLinks = 8;
constexpr int kCcLinks = 4;
constexpr std::uint64_t kUnfinishedFlagsPosition = 60;
// Cycle counters and the length of the last DT not yet updated (the DL blocks always are).
constexpr std::uint16_t kUnfinishedFlags = 0x01 | 0x04;

constexpr std::uint8_t kCnTypeValue = 0;
constexpr std::uint8_t kCnTypeMaster = 2;
constexpr std::uint8_t kSyncTime = 1;
constexpr std::uint8_t kUnsignedLe = 0;
constexpr std::uint8_t kFloatLe = 4;
constexpr std::uint8_t kByteArray = 10;
constexpr std::uint32_t kCnInvalBitValid = 1u << 1;
constexpr std::uint32_t kCnRangeValid = 1u << 3;
constexpr std::uint32_t kCnBusEvent = 1u << 10;
constexpr std::uint16_t kCgBusEvent = 1u << 1;
constexpr std::uint16_t kCgPlainBusEvent = 1u << 2;

constexpr std::uint64_t Align8(std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; }

// The head blocks of the file assembled in memory at their file positions: blocks are appended
// at 8-byte aligned positions and linked by position once both ends exist.
class BlockImage {
 public:
  std::uint64_t Add(const char* id, int links, std::uint64_t data_bytes) {
    const std::uint64_t at = bytes_.size();
    const std::uint64_t length =
        kBlockHeadBytes + 8u * static_cast<std::uint64_t>(links) + data_bytes;
    bytes_.resize(at + Align8(length), 0);
    std::memcpy(bytes_.data() + at, id, 4);
    U64(at + 8, length);
    U64(at + 16, static_cast<std::uint64_t>(links));
    return at;
  }
  // A TX or MD block holding text with its terminating zero; 0 (no block) for an empty TX.
  std::uint64_t Text(const char* id, std::string_view text) {
    if (text.empty() && id[2] == 'T') return 0;
    const std::uint64_t at = Add(id, 0, text.size() + 1);
    std::memcpy(bytes_.data() + at + kBlockHeadBytes, text.data(), text.size());
    return at;
  }
  void Link(std::uint64_t block, int index, std::uint64_t target) {
    U64(block + kBlockHeadBytes + 8u * static_cast<std::uint64_t>(index), target);
  }
  // Position of a block's data section.
  static std::uint64_t Data(std::uint64_t block, int links) {
    return block + kBlockHeadBytes + 8u * static_cast<std::uint64_t>(links);
  }
  void U8(std::uint64_t at, std::uint8_t v) { bytes_[at] = v; }
  void U16(std::uint64_t at, std::uint16_t v) { Put(at, v, 2); }
  void U32(std::uint64_t at, std::uint32_t v) { Put(at, v, 4); }
  void U64(std::uint64_t at, std::uint64_t v) { Put(at, v, 8); }
  void F64(std::uint64_t at, double v) { Put(at, std::bit_cast<std::uint64_t>(v), 8); }
  void Chars(std::uint64_t at, std::string_view text) {
    std::memcpy(bytes_.data() + at, text.data(), text.size());
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  void Put(std::uint64_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
      bytes_[at + static_cast<std::uint64_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  std::vector<std::uint8_t> bytes_;
};

struct ChannelSpec {
  std::string_view name{};
  std::string_view unit{};
  std::uint8_t type = kCnTypeValue;
  std::uint8_t sync = 0;
  std::uint8_t data_type = kFloatLe;
  std::uint8_t bit_offset = 0;
  std::uint32_t byte_offset = 0;
  std::uint32_t bit_count = 0;
  std::uint32_t flags = 0;
  std::uint32_t inval_bit = 0;
  double minimum = 0, maximum = 0;
  std::uint64_t conversion = 0;  // CC block, 0 for none
};

// Appends the CN blocks of the channels chained by cn_cn_next; returns the first one's position.
std::uint64_t AddChannels(BlockImage& image, std::span<const ChannelSpec> channels,
                          std::vector<std::uint64_t>* positions = nullptr) {
  std::uint64_t first = 0, previous = 0;
  for (const ChannelSpec& c : channels) {
    const std::uint64_t cn = image.Add("##CN", kCnLinks, 72);
    const std::uint64_t name = image.Text("##TX", c.name);
    const std::uint64_t unit = image.Text("##TX", c.unit);
    image.Link(cn, 2, name);
    image.Link(cn, 4, c.conversion);
    image.Link(cn, 6, unit);
    const std::uint64_t d = BlockImage::Data(cn, kCnLinks);
    image.U8(d, c.type);
    image.U8(d + 1, c.sync);
    image.U8(d + 2, c.data_type);
    image.U8(d + 3, c.bit_offset);
    image.U32(d + 4, c.byte_offset);
    image.U32(d + 8, c.bit_count);
    image.U32(d + 12, c.flags);
    image.U32(d + 16, c.inval_bit);
    image.F64(d + 24, c.minimum);
    image.F64(d + 32, c.maximum);
    if (previous != 0) image.Link(previous, 0, cn);
    if (first == 0) first = cn;
    if (positions != nullptr) positions->push_back(cn);
    previous = cn;
  }
  return first;
}

// A value-to-text conversion of the direction bit: 0 "Rx", 1 "Tx".
std::uint64_t AddDirectionConversion(BlockImage& image) {
  const std::uint64_t cc = image.Add("##CC", kCcLinks + 3, 40);
  image.Link(cc, kCcLinks, image.Text("##TX", "Rx"));
  image.Link(cc, kCcLinks + 1, image.Text("##TX", "Tx"));
  const std::uint64_t d = BlockImage::Data(cc, kCcLinks + 3);
  image.U8(d, 7);       // value to text
  image.U16(d + 4, 3);  // references: two texts and the (empty) default
  image.U16(d + 6, 2);  // values
  image.F64(d + 24, 0.0);
  image.F64(d + 32, 1.0);
  return cc;
}

std::uint8_t DataTypeOfKind(int kind) { return kind == kMdfKindTimeBytes ? kByteArray : kFloatLe; }

std::string HistoryComment() {
  std::string xml = "<FHcomment><TX>Converted by Tessmar</TX><tool_id>Tessmar</tool_id>";
  xml += "<tool_vendor>Tessmar</tool_vendor><tool_version>";
  xml += kVersion;
  xml += "</tool_version></FHcomment>";
  return xml;
}

std::uint64_t Nanoseconds(double seconds) {
  if (!(seconds > 0)) return 0;
  return static_cast<std::uint64_t>(std::llround(seconds * 1e9));
}

}  // namespace

void Mdf4Writer::Fail(const std::string& text) { FailWith(error_text_, text); }

std::vector<std::uint8_t> Mdf4Writer::BuildHeader() {
  BlockImage image;
  image.bytes().resize(64, 0);
  image.Chars(0, "UnFinMF 4.10    Tessmar ");
  image.U16(28, 410);
  image.U16(kUnfinishedFlagsPosition, kUnfinishedFlags);

  const std::uint64_t hd = image.Add("##HD", kHdLinks, 32);
  image.U64(kHdStartTimePosition, Nanoseconds(start_date_));

  const std::uint64_t fh = image.Add("##FH", 2, 16);
  image.Link(hd, 1, fh);
  image.Link(fh, 1, image.Text("##MD", HistoryComment()));
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  image.U64(BlockImage::Data(fh, 2),
            static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));

  dg_position_ = image.Add("##DG", kDgLinks, 8);
  image.Link(hd, 0, dg_position_);
  cg_position_ = image.Add("##CG", kCgLinks, 32);
  image.Link(dg_position_, 1, cg_position_);
  const std::uint64_t cg_data = BlockImage::Data(cg_position_, kCgLinks);

  if (type_ == OutputType::kMessages) {
    const std::uint64_t acquisition = image.Text("##TX", "CAN_DataFrame");
    image.Link(cg_position_, 2, acquisition);
    const std::uint64_t si = image.Add("##SI", 3, 8);
    image.Link(si, 0, image.Text("##TX", "CAN"));
    image.U8(BlockImage::Data(si, 3), 2);      // source type bus
    image.U8(BlockImage::Data(si, 3) + 1, 2);  // bus type CAN
    image.Link(cg_position_, 3, si);
    image.U16(cg_data + 16, kCgBusEvent | kCgPlainBusEvent);
    image.U16(cg_data + 18, '.');

    const std::uint64_t direction = AddDirectionConversion(image);
    constexpr std::uint32_t kEvent = kCnBusEvent;
    const ChannelSpec top[] = {
        {.name = "Timestamp",
         .unit = "s",
         .type = kCnTypeMaster,
         .sync = kSyncTime,
         .data_type = kFloatLe,
         .bit_count = 64},
        {.name = "CAN_DataFrame",
         .data_type = kByteArray,
         .byte_offset = 8,
         .bit_count = 128,
         .flags = kEvent},
    };
    const ChannelSpec parts[] = {
        {.name = "CAN_DataFrame.BusChannel",
         .data_type = kUnsignedLe,
         .byte_offset = 8,
         .bit_count = 8,
         .flags = kEvent},
        {.name = "CAN_DataFrame.ID",
         .data_type = kUnsignedLe,
         .byte_offset = 9,
         .bit_count = 29,
         .flags = kEvent},
        {.name = "CAN_DataFrame.IDE",
         .data_type = kUnsignedLe,
         .bit_offset = 7,
         .byte_offset = 12,
         .bit_count = 1,
         .flags = kEvent},
        {.name = "CAN_DataFrame.DLC",
         .data_type = kUnsignedLe,
         .byte_offset = 13,
         .bit_count = 4,
         .flags = kEvent},
        {.name = "CAN_DataFrame.DataLength",
         .data_type = kUnsignedLe,
         .byte_offset = 14,
         .bit_count = 8,
         .flags = kEvent},
        {.name = "CAN_DataFrame.DataBytes",
         .data_type = kByteArray,
         .byte_offset = 16,
         .bit_count = 64,
         .flags = kEvent},
        {.name = "CAN_DataFrame.Dir",
         .data_type = kUnsignedLe,
         .byte_offset = 15,
         .bit_count = 1,
         .flags = kEvent,
         .conversion = direction},
    };
    std::vector<std::uint64_t> top_positions;
    image.Link(cg_position_, 1, AddChannels(image, top, &top_positions));
    image.Link(top_positions[1], 1, AddChannels(image, parts));
    data_bytes_ = kMdf4CanRecordBytes;
    inval_bytes_ = 0;
  } else {
    std::vector<ChannelSpec> channels;
    channels.push_back({.name = "Time",
                        .unit = "s",
                        .type = kCnTypeMaster,
                        .sync = kSyncTime,
                        .data_type = kFloatLe,
                        .bit_count = 64});
    std::uint32_t offset = 8;
    std::uint32_t bit = 0;
    for (int column : value_columns_) {
      const int kind = plan_.kind[static_cast<std::size_t>(column)];
      const MdfChannelText text = MdfChannelTextOf(plan_, column, definitions_);
      ChannelSpec c{.name = text.name,
                    .unit = text.unit,
                    .data_type = DataTypeOfKind(kind),
                    .byte_offset = offset,
                    .bit_count = static_cast<std::uint32_t>(VectorMdfKindSize(kind) * 8),
                    .flags = kCnInvalBitValid,
                    .inval_bit = bit++,
                    .minimum = text.minimum,
                    .maximum = text.maximum};
      if (text.minimum < text.maximum) c.flags |= kCnRangeValid;
      channels.push_back(c);
      offset += static_cast<std::uint32_t>(VectorMdfKindSize(kind));
    }
    image.Link(cg_position_, 1, AddChannels(image, channels));
    data_bytes_ = offset;
    inval_bytes_ = (bit + 7) / 8;
  }
  image.U32(cg_data + 24, data_bytes_);
  image.U32(cg_data + 28, inval_bytes_);
  // The records start right behind the head, in the first DT.
  image.Link(dg_position_, 2, image.bytes().size());
  return std::move(image.bytes());
}

bool Mdf4Writer::CreateFile(const WriterSetup& setup) {
  type_ = setup.output_type == OutputType::kMessages ? OutputType::kMessages : OutputType::kSignals;
  file_name_ = OwnFilePath(setup.output_path, ".mf4");
  start_date_ = setup.start_date;
  value_columns_.clear();
  if (type_ == OutputType::kSignals) {
    CopyMdfDefinitions(setup, definitions_);
    plan_ = PlanMdfColumns(setup, definitions_);
    for (int column = 0; column < kMdfMaxValueColumns; ++column) {
      if (plan_.kind[static_cast<std::size_t>(column)] != kMdfKindNone) {
        value_columns_.push_back(column);
      }
    }
    if (plan_.dropped > 0) {
      ShowMessageF(kMsgWarning,
                   "Warning: MDF output holds at most %d data channels; %d further column(s) are "
                   "not written.",
                   kMdfMaxValueColumns, plan_.dropped);
    }
  }
  const std::vector<std::uint8_t> header = BuildHeader();
  const std::uint64_t record_bytes = data_bytes_ + inval_bytes_;
  record_.assign(record_bytes, 0);
  block_capacity_ = std::max<std::uint64_t>(1, data_block_bytes_ / record_bytes) * record_bytes;
  if (!file_.Create(file_name_)) {
    Fail("Could not create output file (create error)");
    return false;
  }
  if (!file_.WriteBytes(header.data(), header.size()) || !StartDataBlock()) {
    write_failed_ = true;
    Fail(WriteErrorText(file_));
    file_.Close();
    return false;
  }
  return true;
}

bool Mdf4Writer::Patch64(std::uint64_t at, std::uint64_t value) {
  const std::int64_t end = file_.Position();
  std::uint8_t b[8];
  StoreLe64(b, value);
  return file_.Seek(static_cast<std::int64_t>(at)) == static_cast<std::int64_t>(at) &&
         file_.WriteBytes(b, 8) && file_.Seek(end) == end;
}

bool Mdf4Writer::StartDataBlock() {
  // The new DT states only its header as length until it is full or the file is finished.
  std::uint8_t dt_head[kBlockHeadBytes] = {'#', '#', 'D', 'T'};
  StoreLe64(dt_head + 8, kBlockHeadBytes);
  block_fill_ = 0;
  if (data_blocks_.empty()) {
    data_blocks_.push_back(static_cast<std::uint64_t>(file_.Position()));
    return file_.WriteBytes(dt_head, sizeof dt_head);
  }
  // A full block: its data section ends on a record, padded to the next aligned position.
  static constexpr std::uint8_t kZeros[8] = {};
  const std::uint64_t full_length = kBlockHeadBytes + block_capacity_;
  if (!file_.WriteBytes(kZeros, Align8(full_length) - full_length)) return false;

  // A DL listing the new block (the first DL lists the first block too), the new DT behind it.
  const std::uint64_t list = static_cast<std::uint64_t>(file_.Position());
  const std::uint64_t first = last_list_ == 0 ? 0 : data_blocks_.size();
  const std::uint64_t n = data_blocks_.size() + 1 - first;
  const std::uint64_t list_length = kBlockHeadBytes + 8 * (1 + n) + 8 + 8 * n;
  const std::uint64_t dt = list + list_length;
  std::vector<std::uint8_t> dl(list_length, 0);
  std::memcpy(dl.data(), "##DL", 4);
  StoreLe64(dl.data() + 8, list_length);
  StoreLe64(dl.data() + 16, 1 + n);
  std::uint8_t* p = dl.data() + kBlockHeadBytes + 8;  // dl_dl_next stays 0
  for (std::uint64_t i = first; i <= data_blocks_.size(); ++i, p += 8) {
    StoreLe64(p, i < data_blocks_.size() ? data_blocks_[i] : dt);
  }
  StoreLe32(p + 4, static_cast<std::uint32_t>(n));
  p += 8;
  // The offset of each block's data in the record stream of the whole list.
  for (std::uint64_t i = first; i <= data_blocks_.size(); ++i, p += 8) {
    StoreLe64(p, i * block_capacity_);
  }
  if (!file_.WriteBytes(dl.data(), dl.size()) || !file_.WriteBytes(dt_head, sizeof dt_head)) {
    return false;
  }
  // Then the full block's length and the link to the new DL: the data group's data link for the
  // first DL, the previous DL's next link for the others.
  const std::uint64_t link =
      last_list_ == 0 ? dg_position_ + kBlockHeadBytes + 16 : last_list_ + kBlockHeadBytes;
  if (!Patch64(data_blocks_.back() + 8, full_length) || !Patch64(link, list)) return false;
  last_list_ = list;
  data_blocks_.push_back(dt);
  return true;
}

bool Mdf4Writer::WriteRecord(double t, double absolute) {
  if (!file_.is_open()) {
    Fail("Cannot write DATA file (not opened)");
    return false;
  }
  if (first_row_time_ < 0) {
    // The master channel counts from the first record, so the HD start is that record's time.
    first_row_time_ = t;
    start_date_ = absolute;
    if (!Patch64(kHdStartTimePosition, Nanoseconds(start_date_))) {
      write_failed_ = true;
      Fail(WriteErrorText(file_));
      return false;
    }
  }
  if (block_fill_ + record_.size() > block_capacity_ && !StartDataBlock()) {
    write_failed_ = true;
    Fail(WriteErrorText(file_));
    return false;
  }
  StoreF64(record_.data(), t - first_row_time_);
  if (!file_.WriteBytes(record_.data(), record_.size())) {
    write_failed_ = true;
    Fail(WriteErrorText(file_));
    return false;
  }
  block_fill_ += record_.size();
  ++record_count_;
  return true;
}

bool Mdf4Writer::Close(bool complete) {
  if (!file_.is_open()) return true;
  bool ok = complete && !write_failed_;
  if (ok) {
    static constexpr std::uint8_t kZeros[8] = {};
    const std::uint64_t last_length = kBlockHeadBytes + block_fill_;
    ok = file_.WriteBytes(kZeros, Align8(last_length) - last_length);
    const std::uint8_t finished_id[8] = {'M', 'D', 'F', ' ', ' ', ' ', ' ', ' '};
    const std::uint8_t no_flags[2] = {0, 0};
    ok = ok && Patch64(data_blocks_.back() + 8, last_length) &&
         Patch64(BlockImage::Data(cg_position_, kCgLinks) + 8, record_count_) &&
         file_.Seek(kUnfinishedFlagsPosition) == kUnfinishedFlagsPosition &&
         file_.WriteBytes(no_flags, 2) && file_.Seek(0) == 0 && file_.WriteBytes(finished_id, 8);
  }
  // A file that was not completed keeps its unfinished marks and the record count 0, so that
  // no reader takes it for complete.
  const bool closed = file_.Close();
  if (complete && (!ok || !closed)) {
    if (!write_failed_ || error_text_.empty()) Fail(WriteErrorText(file_));
    return false;
  }
  return complete;
}

int Mdf4Writer::Create(const WriterSetup& setup) {
  if (setup.appending) return AttachAppendedSource(setup, file_.is_open(), error_text_);
  file_.Close();
  ClearError();
  error_text_.clear();
  data_blocks_.clear();
  last_list_ = 0;
  block_fill_ = 0;
  record_count_ = 0;
  first_row_time_ = -1.0;
  write_failed_ = false;
  channels_ = setup.channels;
  total_columns_ = setup.layout.total;
  return CreateFile(setup) ? 1 : 0;
}

int Mdf4Writer::WriteRow(const WriterRow& row) {
  if (type_ == OutputType::kMessages) {
    const std::uint8_t* e = row.entry;
    if (e == nullptr || row.entry_length < kEntrySize ||
        ClassifyEntry(e) != EntryClass::kCanFrame) {
      return kRowSkipped;
    }
    const std::uint32_t id_word = CanIdentifier(e);
    std::uint8_t* r = record_.data();
    r[8] = static_cast<std::uint8_t>(CanIdBus(id_word));
    std::uint32_t id = id_word & kCanIdMask;
    if (id_word & kCanIdExtended) id |= 0x80000000u;
    StoreLe32(r + 9, id);
    r[13] = static_cast<std::uint8_t>(e[0] & 0x0F);
    r[14] = static_cast<std::uint8_t>(CanDataLength(e));
    r[15] = 0;  // received
    std::memcpy(r + 16, CanData(e), 8);
  } else {
    // One pass over the planned columns: the value (0 without one) and its invalid bit.
    std::uint8_t* p = record_.data() + 8;
    std::uint8_t* inval = record_.data() + data_bytes_;
    std::memset(inval, 0, inval_bytes_);
    const std::size_t n = value_columns_.size();
    for (std::size_t i = 0; i < n; ++i) {
      const int column = value_columns_[i];
      const ChannelValue* cv =
          (channels_ != nullptr && column < total_columns_) ? &channels_[column] : nullptr;
      const bool valid = cv != nullptr && cv->valid;
      const double value = valid ? cv->scaled : 0.0;
      p = StoreMdfValue(p, plan_.kind[static_cast<std::size_t>(column)], value, valid,
                        StoreMdfCanOpenDate);
      if (!valid) inval[i >> 3] |= static_cast<std::uint8_t>(1u << (i & 7));
    }
  }
  return WriteRecord(row.elapsed, row.time + row.time_base) ? kRowWritten : kRowFailed;
}

std::vector<std::filesystem::path> Mdf4Writer::OutputFiles(
    const std::filesystem::path& output_path) const {
  return {OwnFilePath(output_path, ".mf4")};
}

int Mdf4Writer::Finish(const WriterFinish& finish) {
  if (finish.more_follow && file_.is_open()) return 1;
  if (!file_.is_open()) return 1;
  return Close(!finish.aborted) ? 1 : 0;
}

}  // namespace tessmar
