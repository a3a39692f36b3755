// Reading recordings: text header, binary logfile header, the entry stream and its ends.

#include "logfile/cld_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/message_output.h"
#include "config/scramble.h"
#include "logfile/log_header.h"
#include "tests/logfile/recording_builder.h"

namespace tessmar {
namespace {

using testing::Bytes;

std::vector<LogEntry> ReadAll(CldReader& r, DecodeMessages* m = nullptr) {
  std::vector<LogEntry> out;
  LogEntry e;
  while (r.NextEntry(&e, m)) out.push_back(e);
  return out;
}

TEST(LogHeaderRead, LinesConfigurationAndStartInfo) {
  testing::TempFolder tmp;
  testing::Recording rec;
  rec.Line("[Common]", "\n")
      .Line("Encryption=0", "\r")
      .Line("[CanLoggerConfig]", "\n\r")
      .Line("TimestampFreq=40000")
      .Line("NewFileOnStartup=1")
      .Line("Sig00: id=0x123,sn=\"Speed\",ty=U,fa=1,of=0,mi=0,ma=100,sb=0,nb=8,bo=I")
      .Line("StartDate=1999-01-01 00:00:00")  // not inside [LogFileInfo]: ignored
      .Line("[LogFileInfo]")
      .Line("StartDate=2017-10-19 12:34:56")
      .Line("StartTimestamp=12345")
      .Marker()
      .Add(testing::MarkerEntry("eof", 0));
  testing::WriteBytes(tmp.File("a.cld"), rec.Build());

  CldReader reader;
  ASSERT_TRUE(reader.Open(tmp.File("a.cld")));
  EXPECT_EQ(reader.FileSize(), static_cast<int64_t>(rec.Build().size()));
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  cfg.ReceiveAll = 1;  // reset by the header reader
  const LogHeader h = ReadLogHeader(reader, cfg, sigs);
  EXPECT_EQ(h.binary_position, static_cast<int64_t>(rec.HeaderSize()));
  EXPECT_TRUE(h.frequency_known);
  EXPECT_EQ(h.frequency, 40000);
  EXPECT_EQ(cfg.NewFileOnStartup, 1);
  EXPECT_EQ(cfg.ReceiveAll, 0);
  EXPECT_STREQ(sigs[0].sn, "Speed");
  EXPECT_EQ(h.start.start_date, 1508416496);
  EXPECT_EQ(h.start.start_timestamp, 12345);

  const BinaryLogHeader bh = reader.ReadBinaryHeader(h.binary_position);
  EXPECT_FALSE(bh.present) << "fewer than 512 bytes follow";
  EXPECT_EQ(reader.FirstEntryPosition(), h.binary_position);
  const auto entries = ReadAll(reader);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].cls, EntryClass::kEofMarker);
}

TEST(LogHeaderRead, ScrambledHeaderIsUnscrambledAfterTheKeyLine) {
  testing::TempFolder tmp;
  const int32_t key = KeyFromPassword("secret");
  ASSERT_NE(key, 0);
  testing::Recording rec;
  rec.Line("[Common]").Line("Encryption=" + std::to_string(key));
  for (const char* l : {"[CanLoggerConfig]", "TimestampFreq=1000",
                        "Sig03: id=0x7FF,sn=\"Hidden\",ty=S,sb=4,nb=12,bo=M", "[LogFileInfo]",
                        "StartTimestamp=99", "[BINARY_LOG_DATA]"}) {
    rec.Line(Scrambled(l, key));
  }
  rec.Add(testing::MarkerEntry("eof", 0));
  testing::WriteBytes(tmp.File("s.cld"), rec.Build());
  CldReader reader;
  ASSERT_TRUE(reader.Open(tmp.File("s.cld")));
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  const LogHeader h = ReadLogHeader(reader, cfg, sigs);
  EXPECT_EQ(h.key, key);
  EXPECT_EQ(h.binary_position, static_cast<int64_t>(rec.HeaderSize()));
  EXPECT_EQ(h.frequency, 1000);
  EXPECT_STREQ(sigs[3].sn, "Hidden");
  EXPECT_EQ(sigs[3].bo, 'M');
  EXPECT_EQ(h.start.start_timestamp, 99);
}

TEST(LogHeaderRead, MissingMarkerAndMissingFrequency) {
  testing::TempFolder tmp;
  testing::Recording rec;
  rec.Line("[CanLoggerConfig]").Line("TimestampFreq=-5").Line("[BINARY_LOG_DATA] ");
  Bytes bytes = rec.Build();
  bytes.insert(bytes.end(), 300, 0xAB);  // binary garbage, very long "lines"
  testing::WriteBytes(tmp.File("m.cld"), bytes);
  CldReader reader;
  ASSERT_TRUE(reader.Open(tmp.File("m.cld")));
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  const LogHeader h = ReadLogHeader(reader, cfg, sigs);
  EXPECT_EQ(h.binary_position, 0) << "the marker must be the whole line";
  EXPECT_FALSE(h.frequency_known);
  EXPECT_EQ(cfg.TimestampFreq, 39065.5);
  MessageCapture capture;
  DecodeMessages msgs;
  EXPECT_EQ(CheckTimerFrequency(h, &msgs), 39065.5);
  EXPECT_EQ(msgs.error_count, 1);
  ASSERT_EQ(capture.entries().size(), 1u);
  EXPECT_EQ(capture.entries()[0].text, "Error: Logger's timer-frequency unknown.");
  EXPECT_EQ(capture.entries()[0].severity, kMsgError);
}

TEST(BinaryHeader, SignatureWithZeroByteSelectsTheHeader) {
  testing::TempFolder tmp;
  for (bool with_zero : {true, false}) {
    testing::Recording rec;
    rec.StandardHeader().Marker().WithBinaryHeader(with_zero);
    rec.Add(testing::MarkerEntry("eof", 0));
    testing::WriteBytes(tmp.File("b.cld"), rec.Build());
    CldReader reader;
    ASSERT_TRUE(reader.Open(tmp.File("b.cld")));
    T_CanLog_Config cfg;
    T_CanLog_SigTab sigs;
    const LogHeader h = ReadLogHeader(reader, cfg, sigs);
    const BinaryLogHeader bh = reader.ReadBinaryHeader(h.binary_position);
    const auto entries = ReadAll(reader);
    if (with_zero) {
      ASSERT_TRUE(bh.present);
      EXPECT_EQ(reader.FirstEntryPosition(), h.binary_position + 512);
      EXPECT_EQ(bh.dwFilePosForNextWrite, 0x1230u);
      EXPECT_EQ(bh.dwCountWrittenEntries, 77u);
      EXPECT_EQ(bh.dwCountReceivedMsgs, 1000u);
      EXPECT_EQ(bh.dwCountCanIRQs, 1001u);
      EXPECT_EQ(bh.dwCountLostMessages, 3u);
      EXPECT_EQ(bh.wLastMessageLostInLine, 42u);
      EXPECT_EQ(bh.wCpuLoadIndicator[7], 17);
      EXPECT_STREQ(bh.FirmwareCompileDate, "Oct 19 2017");
      EXPECT_EQ(bh.FirmwareArticleNumber, -5);
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_EQ(entries[0].position, h.binary_position + 512);
    } else {
      // Without the zero byte the 512 bytes are entries, read from their first byte.
      EXPECT_FALSE(bh.present);
      EXPECT_EQ(reader.FirstEntryPosition(), h.binary_position);
      ASSERT_FALSE(entries.empty());
      EXPECT_EQ(entries[0].position, h.binary_position);
      uint32_t covered = 0;
      for (const LogEntry& e : entries) covered += e.size;
      EXPECT_EQ(covered, 512u + 16u);
      EXPECT_EQ(entries[0].cls, EntryClass::kUnknownMarker) << "'B' = 0x42, tag \"ina\"";
    }
  }
}

TEST(EntryStream, BlocksAcrossBufferEdgesPositionsAndIndexes) {
  testing::TempFolder tmp;
  testing::Recording rec;
  rec.StandardHeader().Marker();
  // Enough single slots to push a 100-byte block and a 65535-byte block across buffer edges.
  Bytes big_records;
  for (int i = 0; i < 4000; ++i) big_records.insert(big_records.end(), {0, 6, 0x34, 0x12});
  std::vector<int64_t> expected_sizes;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 4093; ++i) {
      rec.Add(testing::CanEntry(static_cast<uint32_t>(i), 0x100, {1}));
      expected_sizes.push_back(16);
    }
    rec.Add(testing::BulkBlock(0xD0, 7, {0, 5, 1}, 100));
    expected_sizes.push_back(112);
    rec.Add(testing::BulkBlock(0xC0, 8, big_records, 65535));
    expected_sizes.push_back(65536);
  }
  rec.Add(testing::MarkerEntry("eof", 0));
  expected_sizes.push_back(16);
  const Bytes bytes = rec.Build();
  testing::WriteBytes(tmp.File("big.cld"), bytes);

  CldReader reader;
  ASSERT_TRUE(reader.Open(tmp.File("big.cld")));
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  const LogHeader h = ReadLogHeader(reader, cfg, sigs);
  reader.ReadBinaryHeader(h.binary_position);
  const auto entries = ReadAll(reader);
  ASSERT_EQ(entries.size(), expected_sizes.size());
  int64_t pos = h.binary_position;
  for (size_t i = 0; i < entries.size(); ++i) {
    ASSERT_EQ(entries[i].position, pos) << i;
    ASSERT_EQ(entries[i].size, expected_sizes[i]) << i;
    ASSERT_EQ(entries[i].index, i);
    pos += expected_sizes[i];
  }
  // The entry bytes are the file's bytes (checked on a block and on the last entry).
  LogEntry e;
  reader.SetPosition(entries[4093].position, 4093);
  ASSERT_TRUE(reader.NextEntry(&e));
  EXPECT_EQ(e.cls, EntryClass::kBulkExpression);
  EXPECT_EQ(e.length, 100u);
  EXPECT_EQ(std::memcmp(e.bytes, bytes.data() + e.position, 112), 0);
  ASSERT_TRUE(reader.NextEntry(&e));
  EXPECT_EQ(e.cls, EntryClass::kBulkOther);
  EXPECT_EQ(e.length, 65535u);
  EXPECT_EQ(std::memcmp(e.bytes, bytes.data() + e.position, 65536), 0);
  // Winding by position derives the index from the first entry position.
  reader.SetPosition(h.binary_position + 16 * 10);
  ASSERT_TRUE(reader.NextEntry(&e));
  EXPECT_EQ(e.index, 10u);
  EXPECT_EQ(CanTimestamp24(e.bytes), 10u);
}

TEST(EntryStream, TruncatedEndsStopCleanly) {
  testing::TempFolder tmp;
  testing::Recording rec;
  rec.StandardHeader().Marker();
  rec.Add(testing::CanEntry(1, 0x100, {1}));
  Bytes partial = testing::CanEntry(2, 0x100, {2});
  partial.resize(9);
  rec.Add(partial);
  testing::WriteBytes(tmp.File("t1.cld"), rec.Build());

  MessageCapture capture;
  DecodeMessages msgs;
  CldReader reader;
  ASSERT_TRUE(reader.Open(tmp.File("t1.cld")));
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  LogHeader h = ReadLogHeader(reader, cfg, sigs);
  reader.ReadBinaryHeader(h.binary_position);
  EXPECT_EQ(ReadAll(reader, &msgs).size(), 1u) << "fewer than 16 bytes end the stream";
  EXPECT_TRUE(capture.entries().empty());

  // A block whose stated length runs past the end of the file.
  testing::Recording rec2;
  rec2.StandardHeader().Marker();
  rec2.Add(testing::CanEntry(1, 0x100, {1}));
  Bytes block = testing::BulkBlock(0xD0, 0, {}, 4000);
  block.resize(200);
  rec2.Add(block);
  testing::WriteBytes(tmp.File("t2.cld"), rec2.Build());
  ASSERT_TRUE(reader.Open(tmp.File("t2.cld")));
  h = ReadLogHeader(reader, cfg, sigs);
  reader.ReadBinaryHeader(h.binary_position);
  EXPECT_EQ(ReadAll(reader, &msgs).size(), 1u);
  reader.SetPosition(reader.FirstEntryPosition());
  EXPECT_EQ(ReadAll(reader, &msgs).size(), 1u);
  ASSERT_EQ(capture.entries().size(), 1u) << "reported once per file";
  EXPECT_NE(capture.entries()[0].text.find("runs past the end of the file"), std::string::npos);

  EXPECT_FALSE(reader.Open(tmp.File("missing.cld")));
  LogEntry e;
  EXPECT_FALSE(reader.NextEntry(&e));
}

// A stream that delivers the first `good` bytes of a recording, then fails with EIO, as a card
// with a bad sector does.
struct FailingSource {
  Bytes bytes;
  std::size_t good = 0;
  std::size_t pos = 0;
};

ssize_t FailingRead(void* cookie, char* buf, std::size_t size) {
  auto* src = static_cast<FailingSource*>(cookie);
  if (src->pos >= src->good) {
    errno = EIO;
    return -1;
  }
  const std::size_t n = std::min(size, src->good - src->pos);
  std::memcpy(buf, src->bytes.data() + src->pos, n);
  src->pos += n;
  return static_cast<ssize_t>(n);
}

int FailingSeek(void* cookie, off64_t* offset, int whence) {
  auto* src = static_cast<FailingSource*>(cookie);
  const off64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<off64_t>(src->pos)
                                            : static_cast<off64_t>(src->bytes.size());
  src->pos = static_cast<std::size_t>(base + *offset);
  *offset = static_cast<off64_t>(src->pos);
  return 0;
}

TEST(EntryStream, ReadErrorIsReportedAndNotTakenForTheEnd) {
  testing::Recording rec;
  rec.StandardHeader().Marker();
  for (uint32_t i = 0; i < 10000; ++i) rec.Add(testing::CanEntry(i, 0x100, {1}));
  FailingSource src{rec.Build(), 0, 0};
  src.good = rec.HeaderSize() + 16 * 6000;  // beyond the first buffer fill
  cookie_io_functions_t io{FailingRead, nullptr, FailingSeek, nullptr};

  MessageCapture capture;
  CldReader reader;
  ASSERT_TRUE(reader.Open(fopencookie(&src, "rb", io), "card.cld"));
  T_CanLog_Config cfg;
  T_CanLog_SigTab sigs;
  const LogHeader h = ReadLogHeader(reader, cfg, sigs);
  reader.ReadBinaryHeader(h.binary_position);
  EXPECT_FALSE(reader.ReadFailed());
  EXPECT_EQ(ReadAll(reader).size(), 6000u);
  EXPECT_TRUE(reader.ReadFailed());
  // Winding back does not make the reader deliver the file's start again as if it went on.
  reader.SetPosition(reader.FirstEntryPosition(), 0);
  EXPECT_TRUE(ReadAll(reader).empty());
  ASSERT_EQ(capture.entries().size(), 1u) << "reported once";
  EXPECT_EQ(capture.entries()[0].severity, kMsgError);
  // The system's text of the error follows the user's language.
  char expected[160];
  std::snprintf(expected, sizeof expected,
                "Error: Could not read \"card.cld\" at filepos=0x%08lX (%s) !",
                static_cast<unsigned long>(src.good), std::strerror(EIO));
  EXPECT_EQ(capture.entries()[0].text, expected);
}

// A recording in memory reads like the same bytes in a file: header, binary header, entries and
// a block across buffer edges, a block cut off by the end, winding back; no bytes read as none.
TEST(EntryStream, RecordingInMemoryReadsLikeTheFile) {
  testing::TempFolder tmp;
  testing::Recording rec;
  rec.StandardHeader().Marker().WithBinaryHeader(true);
  for (int i = 0; i < 5000; ++i) rec.Add(testing::CanEntry(static_cast<uint32_t>(i), 0x100, {1}));
  rec.Add(testing::BulkBlock(0xC0, 8, Bytes(4000, 7), 65535));
  rec.Add(testing::BulkBlock(0xD0, 7, {0, 5, 1}, 100));
  Bytes bytes = rec.Build();
  bytes.resize(bytes.size() - 40);  // the last block is cut off
  testing::WriteBytes(tmp.File("mem.cld"), bytes);
  // Positions and bytes of every entry, then of those from entry 4990 on once more.
  const auto read = [](CldReader& reader) {
    T_CanLog_Config cfg;
    T_CanLog_SigTab sigs;
    reader.ReadBinaryHeader(ReadLogHeader(reader, cfg, sigs).binary_position);
    std::vector<std::pair<int64_t, Bytes>> entries;
    LogEntry e;
    for (int pass = 0; pass < 2; ++pass) {
      while (reader.NextEntry(&e)) {
        entries.emplace_back(e.position, Bytes(e.bytes, e.bytes + e.size));
      }
      reader.SetPosition(reader.FirstEntryPosition() + 16 * 4990);
    }
    return entries;
  };
  CldReader file_reader;
  ASSERT_TRUE(file_reader.Open(tmp.File("mem.cld")));
  CldReader memory_reader;
  ASSERT_TRUE(memory_reader.OpenMemory(bytes, "mem.cld"));
  EXPECT_EQ(memory_reader.FileSize(), static_cast<int64_t>(bytes.size()));
  const auto from_file = read(file_reader);
  EXPECT_EQ(from_file.size(), 5001u + 11u);
  EXPECT_TRUE(read(memory_reader) == from_file);

  CldReader empty;
  ASSERT_TRUE(empty.OpenMemory({}, "empty.cld"));
  LogEntry e;
  EXPECT_FALSE(empty.NextEntry(&e));
}

}  // namespace
}  // namespace tessmar
