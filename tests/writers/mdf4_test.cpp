#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "common/version.h"
#include "config/canlog_config.h"
#include "convert/converter_options.h"
#include "tests/writers/mdf4_reader.h"
#include "tests/writers/writer_fixture.h"
#include "writers/mdf4_writer.h"

namespace tessmar {
namespace {

using test::Mdf4Channel;
using test::Mdf4File;
using test::ReadBytes;
using test::ReadMdf4;
using test::TempFolder;
using test::WriterFixture;

// A CAN frame entry: DLC in byte 0, identifier word at 4, data at 8.
std::array<std::uint8_t, 16> Frame(std::uint32_t id_word, int dlc, std::uint8_t first) {
  std::array<std::uint8_t, 16> e{};
  e[0] = static_cast<std::uint8_t>(dlc);
  e[1] = 1;  // a tick, so that the entry is no filler
  std::memcpy(e.data() + 4, &id_word, 4);
  for (int i = 0; i < 8; ++i)
    e[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first + i);
  return e;
}

TEST(Mdf4, SignalsReadBackWithNamesUnitsRangesAndInvalidBits) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "EngineSpeed", "rpm", 16, 'U', 0.25, 0, 0, 16000);
  fx.Signal(1, "Odometer", "km", 32, 'U', 0.1, 0, 0, 0);
  fx.Expression(0, "EngineSpeed/60", "Rps", 0, 300);
  fx.Finish(dir / "run1.csv");
  Mdf4Writer w;
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();

  WriterRow row;
  row.time_base = test::kStart20171019 + 0.5;
  row.elapsed = 100.5;
  fx.Set(fx.SignalColumn(0), 1500.25, 6001);  // the others have no value yet
  ASSERT_EQ(w.WriteRow(row), kRowWritten);
  fx.Set(fx.SignalColumn(1), 123456.7, 1234567);
  fx.SetFloat(fx.ExpressionColumn(0), 25.0);
  row.elapsed = 100.51;
  ASSERT_EQ(w.WriteRow(row), kRowWritten);
  ASSERT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();

  Mdf4File f = ReadMdf4(ReadBytes(dir / "run1.mf4"));
  EXPECT_EQ(f.id + f.version, "MDF     4.10    ");
  EXPECT_EQ(f.unfinished_flags, 0);
  EXPECT_EQ(f.start_ns, 1508400303500000000ull);  // the first record's time
  EXPECT_NE(f.history.find(std::string("<tool_version>") + kVersion), std::string::npos);
  ASSERT_EQ(f.cycle_count, 2u);
  ASSERT_EQ(f.records(), 2u);
  EXPECT_EQ(f.data_bytes, 8u + 4u + 8u + 4u);
  EXPECT_EQ(f.inval_bytes, 1u);
  ASSERT_EQ(f.channels.size(), 4u);

  const Mdf4Channel& time = f.channels[0];
  EXPECT_EQ(time.name + time.unit, "Times");
  EXPECT_EQ(time.type * 10 + time.sync, 21);  // master, sync type time
  EXPECT_DOUBLE_EQ(f.Value(0, time), 0.0);
  EXPECT_NEAR(f.Value(1, time), 0.01, 1e-12);

  const char* names[] = {"EngineSpeed", "Odometer", "Rps"};
  const char* units[] = {"rpm", "km", ""};
  const std::uint32_t bits[] = {32, 64, 32};
  for (int i = 0; i < 3; ++i) {
    const Mdf4Channel& c = f.channels[static_cast<std::size_t>(i + 1)];
    EXPECT_EQ(c.name, names[i]);
    EXPECT_EQ(c.unit, units[i]);
    EXPECT_EQ(c.data_type, 4);
    EXPECT_EQ(c.bit_count, bits[i]);
    EXPECT_EQ(c.inval_bit, static_cast<std::uint32_t>(i));
  }
  // The range flag only where the column has a range.
  EXPECT_EQ(f.channels[1].flags & 8u, 8u);
  EXPECT_EQ(f.channels[1].maximum, 16000.0);
  EXPECT_EQ(f.channels[2].flags & 8u, 0u);
  EXPECT_EQ(f.channels[3].maximum, 300.0);

  EXPECT_FALSE(f.Invalid(0, f.channels[1]));
  EXPECT_TRUE(f.Invalid(0, f.channels[2]));
  EXPECT_TRUE(f.Invalid(0, f.channels[3]));
  EXPECT_FLOAT_EQ(static_cast<float>(f.Value(0, f.channels[1])), 1500.25f);
  for (std::size_t c = 1; c < 4; ++c) EXPECT_FALSE(f.Invalid(1, f.channels[c]));
  EXPECT_DOUBLE_EQ(f.Value(1, f.channels[2]), 123456.7);
  EXPECT_FLOAT_EQ(static_cast<float>(f.Value(1, f.channels[3])), 25.0f);
}

TEST(Mdf4, DataBeyondOneBlockAreListedAndCombinedSourcesContinue) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "Counter", "", 16);
  fx.Finish(dir / "long.mf4");
  // Records of 8 + 4 + 1 bytes: 7 of them fill a block of 100 bytes.
  Mdf4Writer w(100);
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  WriterRow row;
  row.time_base = test::kStart20171019;
  constexpr int kRows = 50;
  for (int i = 0; i < kRows; ++i) {
    if (i == 30) {
      // A second source appended to the same output.
      WriterFinish more;
      more.more_follow = true;
      ASSERT_EQ(w.Finish(more), 1);
      fx.setup.appending = true;
      ASSERT_EQ(w.Create(fx.setup), 1);
    }
    fx.Set(fx.SignalColumn(0), i, i);
    row.elapsed = 0.01 * i;
    ASSERT_EQ(w.WriteRow(row), kRowWritten);
  }
  ASSERT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();
  EXPECT_EQ(w.data_block_count(), 8u);

  Mdf4File f = ReadMdf4(ReadBytes(dir / "long.mf4"));
  EXPECT_EQ(f.id, "MDF     ");
  EXPECT_TRUE(f.listed);
  EXPECT_EQ(f.data_blocks, 8);
  ASSERT_EQ(f.cycle_count, static_cast<std::uint64_t>(kRows));
  ASSERT_EQ(f.records(), static_cast<std::size_t>(kRows));
  for (int i = 0; i < kRows; ++i) {
    const std::size_t r = static_cast<std::size_t>(i);
    EXPECT_EQ(f.Value(r, f.channels[1]), i);
    EXPECT_NEAR(f.Value(r, f.channels[0]), 0.01 * i, 1e-9);
  }
}

// An aborted file stays readable as it was written: a reader that repairs unfinished files (last
// DT to the end of the file, records counted from the data) gets every record of every block.
TEST(Mdf4, AbortedFileGivesEveryRecordToARepairingReader) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "Counter", "", 16);
  fx.Finish(dir / "cut.mf4");
  Mdf4Writer w(100);  // 7 records of 13 bytes per block
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  WriterRow row;
  row.time_base = test::kStart20171019;
  for (int i = 0; i < 40; ++i) {
    fx.Set(fx.SignalColumn(0), i, i);
    row.time = row.elapsed = 2.0 + 0.01 * i;
    ASSERT_EQ(w.WriteRow(row), kRowWritten);
  }
  (void)w.Finish(WriterFinish{40, false, true});

  Mdf4File f = ReadMdf4(ReadBytes(dir / "cut.mf4"));
  EXPECT_EQ(f.id, "UnFinMF ");
  EXPECT_EQ(f.data_blocks, 6);
  EXPECT_EQ(f.start_ns, 1508400305000000000ull);  // the first record's time
  ASSERT_EQ(f.records(), 40u);
  for (std::size_t r = 0; r < 40; ++r) {
    EXPECT_EQ(f.Value(r, f.channels[1]), static_cast<double>(r));
    EXPECT_NEAR(f.Value(r, f.channels[0]), 0.01 * static_cast<double>(r), 1e-9);
  }
}

TEST(Mdf4, FailedAbortedAndEmptyOutputs) {
  TempFolder dir;
  WriterFixture fx;
  fx.Signal(0, "A", "V", 16);
  // An aborted conversion leaves the file marked unfinished with no records counted.
  fx.Finish(dir / "aborted.mf4");
  {
    Mdf4Writer w;
    ASSERT_EQ(w.Create(fx.setup), 1);
    fx.Set(fx.SignalColumn(0), 1, 1);
    ASSERT_EQ(w.WriteRow(WriterRow{}), kRowWritten);
    WriterFinish abort;
    abort.aborted = true;
    (void)w.Finish(abort);
    Mdf4File f = ReadMdf4(ReadBytes(dir / "aborted.mf4"));
    EXPECT_EQ(f.id, "UnFinMF ");
    EXPECT_NE(f.unfinished_flags, 0);
    EXPECT_EQ(f.cycle_count, 0u);
  }
  // An output that cannot be created fails with the writer's reason.
  {
    fx.setup.output_path = dir / "missing" / "x.mf4";
    Mdf4Writer w;
    EXPECT_EQ(w.Create(fx.setup), 0);
    EXPECT_FALSE(w.error_text().empty());
    EXPECT_EQ(w.Finish(WriterFinish{}), 1);  // nothing open
  }
  // A write error (a full device) is reported and never closes the file as complete.
  if (std::filesystem::exists("/dev/full")) {
    std::filesystem::create_symlink("/dev/full", dir / "full.mf4");
    fx.setup.output_path = dir / "full.mf4";
    Mdf4Writer w;
    int ok = w.Create(fx.setup);
    for (int i = 0; ok && i < 100000; ++i) ok = w.WriteRow(WriterRow{}) == kRowWritten;
    if (ok) ok = w.Finish(WriterFinish{});
    EXPECT_EQ(ok, 0);
    // The head is still buffered when the first record writes back the start time: that field
    // is named behind the system's reason.
    const std::string& text = w.error_text();
    EXPECT_EQ(text.rfind("Could not write output file (", 0), 0u) << text;
    const std::string field = ") when writing back the start time";
    EXPECT_TRUE(text.size() > field.size() &&
                text.compare(text.size() - field.size(), field.size(), field) == 0)
        << text;
  }
}

TEST(Mdf4, MessagesAsCanBusLogging) {
  TempFolder dir;
  WriterFixture fx;
  fx.Finish(dir / "frames.mf4");
  fx.setup.output_type = OutputType::kMessages;
  Mdf4Writer w;
  ASSERT_EQ(w.Create(fx.setup), 1) << w.error_text();
  const std::array<std::uint8_t, 16> frames[] = {
      Frame(0x123, 8, 0x10),
      Frame(0x18FEF100u | kCanIdExtended | kCanIdBus2, 3, 0xA0),
      Frame(0x7FF | kCanIdBus2, 0, 0x00),
  };
  WriterRow row;
  row.time_base = test::kStart20171019;
  for (std::size_t i = 0; i < 3; ++i) {
    row.entry = frames[i].data();
    row.entry_length = 16;
    row.elapsed = 1.0 + 0.25 * static_cast<double>(i);
    ASSERT_EQ(w.WriteRow(row), kRowWritten);
    // An expression entry between the frames is no bus event.
    std::array<std::uint8_t, 16> expression{};
    expression[0] = 0x90;
    row.entry = expression.data();
    EXPECT_EQ(w.WriteRow(row), kRowSkipped);
  }
  ASSERT_EQ(w.Finish(WriterFinish{}), 1) << w.error_text();

  Mdf4File f = ReadMdf4(ReadBytes(dir / "frames.mf4"));
  EXPECT_EQ(f.id, "MDF     ");
  EXPECT_EQ(f.acquisition_name, "CAN_DataFrame");
  EXPECT_EQ(f.cg_flags, 6);
  EXPECT_EQ(f.path_separator, '.');
  EXPECT_EQ(f.source_type, 2);
  EXPECT_EQ(f.bus_type, 2);
  ASSERT_EQ(f.records(), 3u);
  ASSERT_EQ(f.channels.size(), 2u);
  EXPECT_EQ(f.channels[0].name, "Timestamp");
  EXPECT_EQ(f.channels[0].type, 2);
  const Mdf4Channel& frame = f.channels[1];
  EXPECT_EQ(frame.name, "CAN_DataFrame");
  ASSERT_EQ(frame.parts.size(), 7u);
  auto part = [&](const std::string& name) -> const Mdf4Channel& {
    for (const Mdf4Channel& c : frame.parts) {
      if (c.name == "CAN_DataFrame." + name) return c;
    }
    ADD_FAILURE() << "no channel " << name;
    return frame;
  };
  const double bus[] = {1, 2, 2}, id[] = {0x123, 0x18FEF100, 0x7FF}, ide[] = {0, 1, 0};
  const double dlc[] = {8, 3, 0};
  for (std::size_t r = 0; r < 3; ++r) {
    EXPECT_DOUBLE_EQ(f.Value(r, f.channels[0]), 0.25 * static_cast<double>(r));
    EXPECT_EQ(f.Value(r, part("BusChannel")), bus[r]) << r;
    EXPECT_EQ(f.Value(r, part("ID")), id[r]) << r;
    EXPECT_EQ(f.Value(r, part("IDE")), ide[r]) << r;
    EXPECT_EQ(f.Value(r, part("DLC")), dlc[r]) << r;
    EXPECT_EQ(f.Value(r, part("DataLength")), dlc[r]) << r;
    EXPECT_EQ(f.Value(r, part("Dir")), 0) << r;
    const std::vector<std::uint8_t> bytes = f.Bytes(r, part("DataBytes"));
    EXPECT_EQ(std::vector<std::uint8_t>(frames[r].begin() + 8, frames[r].end()), bytes);
  }
  EXPECT_EQ(part("Dir").texts, (std::vector<std::string>{"Rx", "Tx"}));
}

TEST(Mdf4, OutputNameChoosesTheFormat) {
  // An output name ending in ".mf4" chooses the format and keeps Messages or Signals.
  ConverterOptions options;
  options.output_type = OutputType::kMessages;
  ASSERT_TRUE(ApplyBatchOutputName("frames.MF4", options));
  EXPECT_EQ(options.output_file_format, kFormatMdf4);
  EXPECT_EQ(options.output_type, OutputType::kMessages);
  options.output_type = OutputType::kLogfileDump;
  ASSERT_TRUE(ApplyBatchOutputName("values.mf4", options));
  EXPECT_EQ(options.output_type, OutputType::kSignals);
  EXPECT_FALSE(ApplyBatchOutputName("values.mf41", options));
}

}  // namespace
}  // namespace tessmar
