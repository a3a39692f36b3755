#include "writers/mdf4_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <concepts>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>

#include "common/message_output.h"
#include "common/version.h"
#include "config/canlog_config.h"
#include "logfile/log_entry.h"
#include "writers/vector_mdf_writer.h"
#include "writers/writer_common.h"

namespace tessmar {

namespace {

// ---- Block layout ------------------------------------------------------------------------------
// Every block but the ID block starts with a 24-byte head, then its links (8 bytes each, indexed
// from 0), then its data section. The tables below name each block kind's links by index and its
// data fields by byte offset from the start of the data section.

struct BlockHead {
  static constexpr std::uint64_t kId = 0;          // 4 characters "##XX", then 4 reserved bytes
  static constexpr std::uint64_t kLength = 8;      // uint64: the whole block
  static constexpr std::uint64_t kLinkCount = 16;  // uint64
  static constexpr std::uint64_t kBytes = 24;
};

// The ID block opens the file; it has no head and no links (offsets from the start of the file).
struct IdBlock {
  static constexpr std::uint64_t kFileId = 0;            // 8 characters
  static constexpr std::uint64_t kFormatId = 8;          // 8 characters
  static constexpr std::uint64_t kProgramId = 16;        // 8 characters
  static constexpr std::uint64_t kVersion = 28;          // uint16
  static constexpr std::uint64_t kUnfinishedFlags = 60;  // uint16
  static constexpr std::uint64_t kBytes = 64;
};

struct HdBlock {
  enum Link : int {
    kFirstDataGroup,
    kFileHistory,
    kChannelHierarchy,
    kAttachment,
    kEvent,
    kComment,
    kLinks
  };
  static constexpr std::uint64_t kStartTime = 0;  // uint64, nanoseconds since 1970
  static constexpr std::uint64_t kDataBytes = 32;
};

struct FhBlock {
  enum Link : int { kNext, kComment, kLinks };
  static constexpr std::uint64_t kTime = 0;  // uint64, nanoseconds since 1970
  static constexpr std::uint64_t kDataBytes = 16;
};

struct DgBlock {
  enum Link : int { kNext, kFirstChannelGroup, kData, kComment, kLinks };
  static constexpr std::uint64_t kDataBytes = 8;  // record id size 0 and reserved bytes
};

struct CgBlock {
  enum Link : int {
    kNext,
    kFirstChannel,
    kAcquisitionName,
    kAcquisitionSource,
    kSampleReduction,
    kComment,
    kLinks
  };
  static constexpr std::uint64_t kCycleCount = 8;        // uint64
  static constexpr std::uint64_t kFlags = 16;            // uint16
  static constexpr std::uint64_t kPathSeparator = 18;    // uint16
  static constexpr std::uint64_t kRecordDataBytes = 24;  // uint32: bytes before the invalid bytes
  static constexpr std::uint64_t kInvalBytes = 28;       // uint32
  static constexpr std::uint64_t kDataBytes = 32;
};

struct CnBlock {
  enum Link : int {
    kNext,
    kComposition,
    kName,
    kSource,
    kConversion,
    kSignalData,
    kUnit,
    kComment,
    kLinks
  };
  static constexpr std::uint64_t kType = 0;        // uint8
  static constexpr std::uint64_t kSyncType = 1;    // uint8
  static constexpr std::uint64_t kDataType = 2;    // uint8
  static constexpr std::uint64_t kBitOffset = 3;   // uint8
  static constexpr std::uint64_t kByteOffset = 4;  // uint32
  static constexpr std::uint64_t kBitCount = 8;    // uint32
  static constexpr std::uint64_t kFlags = 12;      // uint32
  static constexpr std::uint64_t kInvalBit = 16;   // uint32
  static constexpr std::uint64_t kMinimum = 24;    // float64, value range
  static constexpr std::uint64_t kMaximum = 32;    // float64
  static constexpr std::uint64_t kDataBytes = 72;
};

// A conversion block; its fixed links are followed by the links to the texts of a value-to-text
// table.
struct CcBlock {
  enum Link : int { kName, kUnit, kComment, kInverse, kLinks };
  static constexpr std::uint64_t kType = 0;            // uint8
  static constexpr std::uint64_t kReferenceCount = 4;  // uint16
  static constexpr std::uint64_t kValueCount = 6;      // uint16
  static constexpr std::uint64_t kValues = 24;         // float64 each
};

struct SiBlock {
  enum Link : int { kName, kPath, kComment, kLinks };
  static constexpr std::uint64_t kSourceType = 0;  // uint8
  static constexpr std::uint64_t kBusType = 1;     // uint8
  static constexpr std::uint64_t kDataBytes = 8;
};

// A data list: the next list, then one link per listed DT; the data section holds the count and
// the offset of each block's data in the record stream of the whole list.
struct DlBlock {
  enum Link : int { kNext, kFirstData };
  static constexpr std::uint64_t kCount = 4;    // uint32
  static constexpr std::uint64_t kOffsets = 8;  // uint64 each
};

// Every record opens with the master channel: float64 seconds from the first record.
constexpr std::uint32_t kMasterByteOffset = 0;
constexpr std::uint32_t kMasterBytes = 8;

// Record layout of a CAN frame in Messages output.
struct CanRecord {
  static constexpr std::uint32_t kTimestamp = kMasterByteOffset;
  static constexpr std::uint32_t kBusChannel = 8;  // uint8
  static constexpr std::uint32_t kId = 9;          // uint32: identifier, IDE in bit kIdeBit
  static constexpr std::uint32_t kIdeBit = 31;
  static constexpr std::uint32_t kDlc = 13;         // low 4 bits
  static constexpr std::uint32_t kDataLength = 14;  // uint8
  static constexpr std::uint32_t kDir = 15;         // bit 0
  static constexpr std::uint32_t kDataBytes = 16;   // 8 bytes
};
static_assert(CanRecord::kDataBytes + 8 == kMdf4CanRecordBytes);

constexpr std::uint64_t kHdPosition = IdBlock::kBytes;

// File position of a link and of a data field of the block at `block` with `links` links.
constexpr std::uint64_t LinkAt(std::uint64_t block, int link) {
  return block + BlockHead::kBytes + 8u * static_cast<std::uint64_t>(link);
}
constexpr std::uint64_t FieldAt(std::uint64_t block, int links, std::uint64_t offset) {
  return LinkAt(block, links) + offset;
}

constexpr std::uint64_t kHdStartTimePosition =
    FieldAt(kHdPosition, HdBlock::kLinks, HdBlock::kStartTime);
// Cycle counters and the length of the last DT not yet updated (the DL blocks always are).
constexpr std::uint16_t kUnfinishedFlags = 0x01 | 0x04;
constexpr std::string_view kUnfinishedFileId = "UnFinMF ";
constexpr std::array<std::uint8_t, 8> kFinishedFileId = {'M', 'D', 'F', ' ', ' ', ' ', ' ', ' '};

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
constexpr std::uint8_t kCcValueToText = 7;
constexpr std::uint8_t kSourceTypeBus = 2;
constexpr std::uint8_t kBusTypeCan = 2;

constexpr std::uint64_t Align8(std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; }

// The one way this writer stores a number: little-endian, as many bytes as its type has (floating
// point as its IEEE 754 bits). Only unsigned and floating types, so that a plain literal cannot
// choose a width by accident.
template <typename T>
requires std::unsigned_integral<T> || std::floating_point<T>
void PutLe(std::uint8_t* p, T value) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &value, sizeof(T));  // one store (records are written per row)
    return;
  }
  std::uint64_t bits;
  if constexpr (std::is_same_v<T, float>) {
    bits = std::bit_cast<std::uint32_t>(value);
  } else if constexpr (std::is_same_v<T, double>) {
    bits = std::bit_cast<std::uint64_t>(value);
  } else {
    bits = value;
  }
  for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}
template <typename T>
std::array<std::uint8_t, sizeof(T)> LeBytes(T value) {
  std::array<std::uint8_t, sizeof(T)> bytes;
  PutLe(bytes.data(), value);
  return bytes;
}

// Blocks assembled in memory at their file positions: `base` is the file position of the first
// byte. Blocks are appended at 8-byte aligned positions and linked by position once both ends
// exist.
class BlockImage {
 public:
  explicit BlockImage(std::uint64_t base = 0) : base_(base) {}

  // Appends a block with `links` links (all 0) and a zeroed data section; returns its position.
  std::uint64_t Add(std::string_view id, int links, std::uint64_t data_bytes) {
    const std::uint64_t at = end();
    const std::uint64_t length = FieldAt(0, links, data_bytes);
    bytes_.resize(bytes_.size() + Align8(length), 0);
    Chars(at + BlockHead::kId, id);
    Put(at + BlockHead::kLength, length);
    Put(at + BlockHead::kLinkCount, static_cast<std::uint64_t>(links));
    return at;
  }
  // A TX or MD block holding text with its terminating zero; 0 (no block) for an empty TX.
  std::uint64_t Text(std::string_view id, std::string_view text) {
    if (text.empty() && id == "##TX") return 0;
    const std::uint64_t at = Add(id, 0, text.size() + 1);
    Chars(FieldAt(at, 0, 0), text);
    return at;
  }
  void Link(std::uint64_t block, int link, std::uint64_t target) {
    Put(LinkAt(block, link), target);
  }
  template <typename T>
  void Put(std::uint64_t at, T value) {
    PutLe(bytes_.data() + (at - base_), value);
  }
  void Chars(std::uint64_t at, std::string_view text) {
    std::memcpy(bytes_.data() + (at - base_), text.data(), text.size());
  }
  // File position just behind the last block.
  std::uint64_t end() const { return base_ + bytes_.size(); }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::uint64_t base_;
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

// Appends the CN blocks of the channels chained by their next links; returns the first one's
// position.
std::uint64_t AddChannels(BlockImage& image, std::span<const ChannelSpec> channels,
                          std::vector<std::uint64_t>* positions = nullptr) {
  std::uint64_t first = 0, previous = 0;
  for (const ChannelSpec& c : channels) {
    const std::uint64_t cn = image.Add("##CN", CnBlock::kLinks, CnBlock::kDataBytes);
    const std::uint64_t name = image.Text("##TX", c.name);
    const std::uint64_t unit = image.Text("##TX", c.unit);
    image.Link(cn, CnBlock::kName, name);
    image.Link(cn, CnBlock::kConversion, c.conversion);
    image.Link(cn, CnBlock::kUnit, unit);
    const auto field = [cn](std::uint64_t offset) { return FieldAt(cn, CnBlock::kLinks, offset); };
    image.Put(field(CnBlock::kType), c.type);
    image.Put(field(CnBlock::kSyncType), c.sync);
    image.Put(field(CnBlock::kDataType), c.data_type);
    image.Put(field(CnBlock::kBitOffset), c.bit_offset);
    image.Put(field(CnBlock::kByteOffset), c.byte_offset);
    image.Put(field(CnBlock::kBitCount), c.bit_count);
    image.Put(field(CnBlock::kFlags), c.flags);
    image.Put(field(CnBlock::kInvalBit), c.inval_bit);
    image.Put(field(CnBlock::kMinimum), c.minimum);
    image.Put(field(CnBlock::kMaximum), c.maximum);
    if (previous != 0) image.Link(previous, CnBlock::kNext, cn);
    if (first == 0) first = cn;
    if (positions != nullptr) positions->push_back(cn);
    previous = cn;
  }
  return first;
}

// A value-to-text conversion of the direction bit: 0 "Rx", 1 "Tx".
std::uint64_t AddDirectionConversion(BlockImage& image) {
  constexpr std::uint16_t kValues = 2;
  constexpr std::uint16_t kReferences = kValues + 1;  // the texts and the (empty) default
  constexpr int kLinks = CcBlock::kLinks + kReferences;
  const std::uint64_t cc = image.Add("##CC", kLinks, CcBlock::kValues + 8 * kValues);
  image.Link(cc, CcBlock::kLinks, image.Text("##TX", "Rx"));
  image.Link(cc, CcBlock::kLinks + 1, image.Text("##TX", "Tx"));
  const auto field = [cc](std::uint64_t offset) { return FieldAt(cc, kLinks, offset); };
  image.Put(field(CcBlock::kType), kCcValueToText);
  image.Put(field(CcBlock::kReferenceCount), kReferences);
  image.Put(field(CcBlock::kValueCount), kValues);
  image.Put(field(CcBlock::kValues), 0.0);
  image.Put(field(CcBlock::kValues + 8), 1.0);
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
  image.bytes().resize(IdBlock::kBytes, 0);
  image.Chars(IdBlock::kFileId, kUnfinishedFileId);
  image.Chars(IdBlock::kFormatId, "4.10    ");
  image.Chars(IdBlock::kProgramId, "Tessmar ");
  image.Put(IdBlock::kVersion, std::uint16_t{410});
  image.Put(IdBlock::kUnfinishedFlags, kUnfinishedFlags);

  const std::uint64_t hd = image.Add("##HD", HdBlock::kLinks, HdBlock::kDataBytes);
  image.Put(kHdStartTimePosition, Nanoseconds(start_date_));

  const std::uint64_t fh = image.Add("##FH", FhBlock::kLinks, FhBlock::kDataBytes);
  image.Link(hd, HdBlock::kFileHistory, fh);
  image.Link(fh, FhBlock::kComment, image.Text("##MD", HistoryComment()));
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  image.Put(FieldAt(fh, FhBlock::kLinks, FhBlock::kTime),
            static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));

  dg_position_ = image.Add("##DG", DgBlock::kLinks, DgBlock::kDataBytes);
  image.Link(hd, HdBlock::kFirstDataGroup, dg_position_);
  cg_position_ = image.Add("##CG", CgBlock::kLinks, CgBlock::kDataBytes);
  image.Link(dg_position_, DgBlock::kFirstChannelGroup, cg_position_);
  const auto cg_field = [this](std::uint64_t offset) {
    return FieldAt(cg_position_, CgBlock::kLinks, offset);
  };

  if (type_ == OutputType::kMessages) {
    const std::uint64_t acquisition = image.Text("##TX", "CAN_DataFrame");
    image.Link(cg_position_, CgBlock::kAcquisitionName, acquisition);
    const std::uint64_t si = image.Add("##SI", SiBlock::kLinks, SiBlock::kDataBytes);
    image.Link(si, SiBlock::kName, image.Text("##TX", "CAN"));
    image.Put(FieldAt(si, SiBlock::kLinks, SiBlock::kSourceType), kSourceTypeBus);
    image.Put(FieldAt(si, SiBlock::kLinks, SiBlock::kBusType), kBusTypeCan);
    image.Link(cg_position_, CgBlock::kAcquisitionSource, si);
    image.Put(cg_field(CgBlock::kFlags),
              static_cast<std::uint16_t>(kCgBusEvent | kCgPlainBusEvent));
    image.Put(cg_field(CgBlock::kPathSeparator), static_cast<std::uint16_t>('.'));

    const std::uint64_t direction = AddDirectionConversion(image);
    constexpr std::uint32_t kEvent = kCnBusEvent;
    const ChannelSpec top[] = {
        {.name = "Timestamp",
         .unit = "s",
         .type = kCnTypeMaster,
         .sync = kSyncTime,
         .data_type = kFloatLe,
         .byte_offset = CanRecord::kTimestamp,
         .bit_count = 8 * kMasterBytes},
        {.name = "CAN_DataFrame",
         .data_type = kByteArray,
         .byte_offset = CanRecord::kBusChannel,
         .bit_count = 8 * (kMdf4CanRecordBytes - CanRecord::kBusChannel),
         .flags = kEvent},
    };
    const ChannelSpec parts[] = {
        {.name = "CAN_DataFrame.BusChannel",
         .data_type = kUnsignedLe,
         .byte_offset = CanRecord::kBusChannel,
         .bit_count = 8,
         .flags = kEvent},
        {.name = "CAN_DataFrame.ID",
         .data_type = kUnsignedLe,
         .byte_offset = CanRecord::kId,
         .bit_count = 29,
         .flags = kEvent},
        {.name = "CAN_DataFrame.IDE",
         .data_type = kUnsignedLe,
         .bit_offset = CanRecord::kIdeBit % 8,
         .byte_offset = CanRecord::kId + CanRecord::kIdeBit / 8,
         .bit_count = 1,
         .flags = kEvent},
        {.name = "CAN_DataFrame.DLC",
         .data_type = kUnsignedLe,
         .byte_offset = CanRecord::kDlc,
         .bit_count = 4,
         .flags = kEvent},
        {.name = "CAN_DataFrame.DataLength",
         .data_type = kUnsignedLe,
         .byte_offset = CanRecord::kDataLength,
         .bit_count = 8,
         .flags = kEvent},
        {.name = "CAN_DataFrame.DataBytes",
         .data_type = kByteArray,
         .byte_offset = CanRecord::kDataBytes,
         .bit_count = 64,
         .flags = kEvent},
        {.name = "CAN_DataFrame.Dir",
         .data_type = kUnsignedLe,
         .byte_offset = CanRecord::kDir,
         .bit_count = 1,
         .flags = kEvent,
         .conversion = direction},
    };
    std::vector<std::uint64_t> top_positions;
    image.Link(cg_position_, CgBlock::kFirstChannel, AddChannels(image, top, &top_positions));
    image.Link(top_positions[1], CnBlock::kComposition, AddChannels(image, parts));
    data_bytes_ = kMdf4CanRecordBytes;
    inval_bytes_ = 0;
  } else {
    std::vector<ChannelSpec> channels;
    channels.push_back({.name = "Time",
                        .unit = "s",
                        .type = kCnTypeMaster,
                        .sync = kSyncTime,
                        .data_type = kFloatLe,
                        .byte_offset = kMasterByteOffset,
                        .bit_count = 8 * kMasterBytes});
    std::uint32_t offset = kMasterByteOffset + kMasterBytes;
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
    image.Link(cg_position_, CgBlock::kFirstChannel, AddChannels(image, channels));
    data_bytes_ = offset;
    inval_bytes_ = (bit + 7) / 8;
  }
  image.Put(cg_field(CgBlock::kRecordDataBytes), data_bytes_);
  image.Put(cg_field(CgBlock::kInvalBytes), inval_bytes_);
  // The records start right behind the head, in the first DT.
  image.Link(dg_position_, DgBlock::kData, image.end());
  return std::move(image.bytes());
}

bool Mdf4Writer::CreateFile(const WriterSetup& setup) {
  type_ = setup.output_type == OutputType::kMessages ? OutputType::kMessages : OutputType::kSignals;
  file_name_ = OwnFilePath(setup.output_path, ".mf4");
  start_date_ = setup.start_date;
  value_columns_.clear();
  value_kinds_.clear();
  if (type_ == OutputType::kSignals) {
    CopyMdfDefinitions(setup, definitions_);
    plan_ = PlanMdfColumns(setup, definitions_);
    for (int column = 0; column < kMdfMaxValueColumns; ++column) {
      const int kind = plan_.kind[static_cast<std::size_t>(column)];
      if (kind != kMdfKindNone) {
        value_columns_.push_back(column);
        value_kinds_.push_back(kind);
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
  if (!(file_.WriteBytes(header.data(), header.size()) || FailWrite()) || !StartDataBlock()) {
    file_.Close();
    return false;
  }
  return true;
}

bool Mdf4Writer::FailWrite() {
  write_failed_ = true;
  Fail(WriteErrorText(file_));
  return false;
}

bool Mdf4Writer::Patch(std::uint64_t at, std::span<const std::uint8_t> bytes, const char* field) {
  const std::int64_t end = file_.Position();
  const auto position = static_cast<std::int64_t>(at);
  if (file_.Seek(position) == position && file_.WriteBytes(bytes.data(), bytes.size()) &&
      file_.Seek(end) == end) {
    return true;
  }
  write_failed_ = true;
  Fail(WriteErrorText(file_) + " when writing back the " + field);
  return false;
}

bool Mdf4Writer::StartDataBlock() {
  // The new DT states only its header as length until it is full or the file is finished.
  block_fill_ = 0;
  if (data_blocks_.empty()) {
    BlockImage image(static_cast<std::uint64_t>(file_.Position()));
    data_blocks_.push_back(image.Add("##DT", 0, 0));
    return file_.WriteBytes(image.bytes().data(), image.bytes().size()) || FailWrite();
  }
  // A full block: its data section ends on a record, padded to the next aligned position.
  static constexpr std::uint8_t kZeros[8] = {};
  const std::uint64_t full_length = BlockHead::kBytes + block_capacity_;
  if (!file_.WriteBytes(kZeros, Align8(full_length) - full_length)) return FailWrite();

  // A DL listing the new block (the first DL lists the first block too), the new DT behind it.
  const std::size_t first = last_list_ == 0 ? 0 : data_blocks_.size();
  const std::size_t n = data_blocks_.size() + 1 - first;
  const int links = DlBlock::kFirstData + static_cast<int>(n);
  BlockImage image(static_cast<std::uint64_t>(file_.Position()));
  const std::uint64_t list = image.Add("##DL", links, DlBlock::kOffsets + 8 * n);
  const std::uint64_t dt = image.Add("##DT", 0, 0);
  image.Put(FieldAt(list, links, DlBlock::kCount), static_cast<std::uint32_t>(n));
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t block = first + i;
    image.Link(list, DlBlock::kFirstData + static_cast<int>(i),
               block < data_blocks_.size() ? data_blocks_[block] : dt);
    // The offset of the block's data in the record stream of the whole list.
    image.Put(FieldAt(list, links, DlBlock::kOffsets + 8 * i),
              static_cast<std::uint64_t>(block) * block_capacity_);
  }
  if (!file_.WriteBytes(image.bytes().data(), image.bytes().size())) return FailWrite();
  // Then the full block's length and the link to the new DL: the data group's data link for the
  // first DL, the previous DL's next link for the others.
  const std::uint64_t link =
      last_list_ == 0 ? LinkAt(dg_position_, DgBlock::kData) : LinkAt(last_list_, DlBlock::kNext);
  if (!Patch(data_blocks_.back() + BlockHead::kLength, LeBytes(full_length),
             "length of a full data block") ||
      !Patch(link, LeBytes(list), "link to a new data list")) {
    return false;
  }
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
    if (!Patch(kHdStartTimePosition, LeBytes(Nanoseconds(start_date_)), "start time")) {
      return false;
    }
  }
  if (block_fill_ + record_.size() > block_capacity_ && !StartDataBlock()) return false;
  PutLe(record_.data() + kMasterByteOffset, t - first_row_time_);
  if (!file_.WriteBytes(record_.data(), record_.size())) return FailWrite();
  block_fill_ += record_.size();
  ++record_count_;
  return true;
}

bool Mdf4Writer::Close(bool complete) {
  if (!file_.is_open()) return true;
  bool ok = complete && !write_failed_;
  if (ok) {
    // The last DT gets its padding and length, the channel group its record count, and only then
    // is the file marked finished.
    static constexpr std::uint8_t kZeros[8] = {};
    const std::uint64_t last_length = BlockHead::kBytes + block_fill_;
    ok = (file_.WriteBytes(kZeros, Align8(last_length) - last_length) || FailWrite()) &&
         Patch(data_blocks_.back() + BlockHead::kLength, LeBytes(last_length),
               "length of the last data block") &&
         Patch(FieldAt(cg_position_, CgBlock::kLinks, CgBlock::kCycleCount), LeBytes(record_count_),
               "record count") &&
         Patch(IdBlock::kUnfinishedFlags, LeBytes(std::uint16_t{0}), "unfinished flags") &&
         Patch(IdBlock::kFileId, kFinishedFileId, "file identifier");
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
    std::uint32_t id = id_word & kCanIdMask;
    if (id_word & kCanIdExtended) id |= 1u << CanRecord::kIdeBit;
    std::uint8_t* r = record_.data();
    PutLe(r + CanRecord::kBusChannel, static_cast<std::uint8_t>(CanIdBus(id_word)));
    PutLe(r + CanRecord::kId, id);
    PutLe(r + CanRecord::kDlc, static_cast<std::uint8_t>(CanLengthCode(e)));
    PutLe(r + CanRecord::kDataLength, static_cast<std::uint8_t>(CanDataLength(e)));
    PutLe(r + CanRecord::kDir, std::uint8_t{0});  // received
    std::memcpy(r + CanRecord::kDataBytes, CanData(e), 8);
  } else {
    // One pass over the planned columns: the value (0 without one) and its invalid bit.
    std::uint8_t* p = record_.data() + kMasterByteOffset + kMasterBytes;
    std::uint8_t* inval = record_.data() + data_bytes_;
    const std::size_t n = value_columns_.size();
    // The records of the planned columns, found again when the channels changed (a combined
    // source brings its own).
    if (value_sources_.size() != n || sources_of_ != channels_ ||
        sources_total_ != total_columns_) {
      value_sources_.clear();
      for (const int column : value_columns_) {
        value_sources_.push_back(
            channels_ != nullptr && column < total_columns_ ? &channels_[column] : nullptr);
      }
      sources_of_ = channels_;
      sources_total_ = total_columns_;
    }
    // Floats stored in line, the invalid bits collected a byte at a time. Locals, because the
    // byte stores of the record could alias every member.
    const ChannelValue* const* const sources = value_sources_.data();
    const int* const kinds = value_kinds_.data();
    unsigned bits = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const ChannelValue* cv = sources[i];
      const bool valid = cv != nullptr && cv->valid;
      const double value = valid ? cv->scaled : 0.0;
      if (kinds[i] == kMdfKindFloat) {
        PutLe(p, ToFloat(value));
        p += 4;
      } else {
        p = StoreMdfValue(p, kinds[i], value, valid, StoreMdfCanOpenDate);
      }
      bits |= static_cast<unsigned>(!valid) << (i & 7);
      if ((i & 7) == 7) {
        inval[i >> 3] = static_cast<std::uint8_t>(bits);
        bits = 0;
      }
    }
    if ((n & 7) != 0) inval[n >> 3] = static_cast<std::uint8_t>(bits);
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
