#include "preview_model/recording_samples.h"

#include <algorithm>
#include <memory>

#include "candb/candb.h"
#include "candb/named_databases.h"
#include "common/message_output.h"
#include "logfile/channel_value.h"
#include "logfile/cld_reader.h"
#include "logfile/log_header.h"
#include "logfile/pre_scan.h"
#include "logfile/running_clock.h"
#include "logfile/signal_values.h"

namespace tessmar {

std::size_t Recording::SampleBytes() const {
  std::size_t bytes = 0;
  for (const ViewerChannel& c : channels) bytes += (c.t.size() + c.v.size()) * sizeof(double);
  return bytes;
}

namespace {

// Decodes one entry's values into `values` and appends a sample to every column that got one.
// A decoder only sets values, so each column it may write is marked invalid first; the columns
// it did not write get their old flag back.
class SampleCollector {
 public:
  SampleCollector(std::vector<ChannelValue>& values, std::vector<int>& series_of_column,
                  std::vector<ViewerChannel>& series)
      : values_(values), series_of_column_(series_of_column), series_(series) {}

  template <typename Decode>
  void Collect(std::span<const int> columns, double t, Decode decode) {
    saved_.clear();
    for (int c : columns) {
      ChannelValue& cv = values_[static_cast<std::size_t>(c)];
      saved_.push_back(cv.valid);
      cv.valid = false;
    }
    decode();
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const int c = columns[i];
      ChannelValue& cv = values_[static_cast<std::size_t>(c)];
      if (!cv.valid) {
        cv.valid = saved_[i];
        continue;
      }
      const int s = series_of_column_[static_cast<std::size_t>(c)];
      if (s < 0) continue;
      ViewerChannel& ch = series_[static_cast<std::size_t>(s)];
      ch.t.push_back(t);
      ch.v.push_back(cv.scaled);
    }
  }

 private:
  std::vector<ChannelValue>& values_;
  std::vector<int>& series_of_column_;
  std::vector<ViewerChannel>& series_;
  std::vector<bool> saved_;
};

void FinishRanges(ViewerChannel& ch) {
  if (ch.v.empty()) return;
  const auto [lo, hi] = std::minmax_element(ch.v.begin(), ch.v.end());
  ch.minimum = *lo;
  ch.maximum = *hi;
}

// The signal of a database message that a logged definition stands for: by name, else (an alias
// renamed it) the one at the same bits.
const CANdbSignal* FindDatabaseSignal(const CANdbMessage& message, const T_CanLog_SigDef& sig) {
  if (const CANdbSignal* s = message.FindSignalByName(TextOf(sig.sn))) return s;
  for (const auto& s : message.signals()) {
    if (s->start_bit() == sig.sb && s->length() == sig.nb) return s.get();
  }
  return nullptr;
}

}  // namespace

void AttachValueTables(std::vector<ViewerChannel>& channels, std::span<const int> origins,
                       const T_CanLog_SigTab& signals,
                       const std::array<std::string, 2>& databases) {
  for (int bus = 1; bus <= 2; ++bus) {
    const std::string& file = databases[static_cast<std::size_t>(bus - 1)];
    if (file.empty()) continue;
    CANdb db;
    // Whatever was read before an error still gives its texts: the result is not needed.
    (void)db.LoadDbcFile(file);
    for (std::size_t c = 0; c < channels.size() && c < origins.size(); ++c) {
      if (origins[c] < 0) continue;
      const T_CanLog_SigDef& sig = signals[static_cast<std::size_t>(origins[c])];
      if (!sig.used() || CanIdBus(sig.id) != bus) continue;
      // The number as a DBC file writes it: bit 31 marks an extended identifier.
      const uint32_t number = (sig.id & kCanIdMask) | ((sig.id & kCanIdExtended) ? 0x80000000u : 0);
      const CANdbMessage* message = db.FindMessageById(number);
      const CANdbSignal* found = message ? FindDatabaseSignal(*message, sig) : nullptr;
      if (found == nullptr) continue;
      std::vector<StateText>& states = channels[c].states;
      states.clear();
      for (const CANdbValueTableEntry& e : found->value_descs()) {
        // Descriptions keep the raw value's low 32 bits; an unsigned signal means them unsigned.
        const double raw = sig.ty == 'U' ? static_cast<double>(static_cast<uint32_t>(e.value))
                                         : static_cast<double>(e.value);
        states.push_back({raw * sig.fa + sig.of, e.text});
      }
      std::stable_sort(states.begin(), states.end(),
                       [](const StateText& a, const StateText& b) { return a.value < b.value; });
    }
  }
}

bool LoadRecording(const std::filesystem::path& path, Recording* out,
                   const LoggerConfiguration* user_config) {
  *out = Recording{};
  out->file = path;
  CldReader reader;
  if (!reader.Open(path)) {
    ShowMessageF(kMsgError, "Error: Could not open \"%s\" !", path.string().c_str());
    return false;
  }
  auto logged = std::make_unique<LoggerConfiguration>();
  const LogHeader header = ReadLogHeader(reader, logged->cfg, logged->sigs);
  if (reader.ReadFailed()) return false;  // reported by the reader
  if (header.binary_position <= 0) {
    ShowMessage(kMsgError, "Error: Could not locate section BINARY_LOG_DATA .");
    return false;
  }
  const T_CanLog_SigTab& sigs = user_config != nullptr ? user_config->sigs : logged->sigs;
  const T_CanLog_Config& cfg = logged->cfg;
  DecodeMessages messages;
  messages.ResetForRun();
  const double frequency = CheckTimerFrequency(header, &messages);
  const ColumnLayout layout = CountColumns(sigs, cfg, 0, false);
  const BinaryLogHeader binary = reader.ReadBinaryHeader(header.binary_position);

  std::vector<ChannelValue> values(static_cast<std::size_t>(std::max(layout.total, 1)));
  std::span<ChannelValue> columns(values.data(), static_cast<std::size_t>(layout.total));
  ClearChannelValues(columns);
  InitChannelRanges(columns, layout, sigs);
  SignalDecoder decoder;
  decoder.Build(sigs, layout);

  // One series per used signal and expression, in column order.
  std::vector<int> series_of_column(values.size(), -1);
  std::vector<int> expression_columns;
  std::vector<int> origins;  // per series: the index of its signal definition, -1 for others
  for (int c = 0; c < layout.total; ++c) {
    int index = 0;
    const ColumnGroup group = layout.GroupOf(c, &index);
    ViewerChannel ch;
    if (group == ColumnGroup::kSignal) {
      const T_CanLog_SigDef& sig = sigs[static_cast<std::size_t>(index)];
      if (!SignalSlotUsed(sig)) continue;
      ch.unit = std::string(TextOf(sig.un));
      ch.message = FormatCanId(sig.id);
      ch.bus = CanIdBus(sig.id);
    } else if (group == ColumnGroup::kExpression) {
      expression_columns.push_back(c);
      if (!ExpressionSlotUsed(cfg.Exp[static_cast<std::size_t>(index)])) continue;
      ch.unit = "calculated";
    } else {
      continue;
    }
    ch.name = ColumnName(layout, c, sigs, cfg);
    series_of_column[static_cast<std::size_t>(c)] = static_cast<int>(out->channels.size());
    origins.push_back(group == ColumnGroup::kSignal ? index : -1);
    out->channels.push_back(std::move(ch));
  }
  AttachValueTables(
      out->channels, origins, sigs,
      FindNamedCanDatabases(user_config != nullptr ? user_config->cfg : logged->cfg, path));

  RunningClock clock;
  const std::string file_name = path.filename().string();
  const PreScanSetup pre = HeaderPreScanSetup(file_name, header, cfg, binary, frequency);
  const PreScanResult scan = RunPreScan(reader, clock, messages, pre);
  if (!scan.completed || reader.ReadFailed()) return false;

  // The pass: every entry from the oldest on, winding back at the end of a circular file.
  reader.SetPosition(scan.oldest_position, static_cast<uint32_t>(scan.oldest_index));
  clock.BeginPass(ClockPass::kConversion);
  const int64_t first_entry = reader.FirstEntryPosition();
  SampleCollector collect(values, series_of_column, out->channels);
  LogEntry entry;
  double last_t = 0;
  GpsFix fix;
  bool gps1_seen = false, gps2_seen = false;
  for (uint32_t n = 0; n < scan.entry_count; ++n) {
    if (!reader.NextEntry(&entry, &messages)) {
      reader.SetPosition(first_entry, 0);
      if (!reader.NextEntry(&entry, &messages)) break;
    }
    clock.ApplyEntry(entry);
    const double absolute = static_cast<double>(clock.AbsoluteTime());
    if (n == 0) out->start = absolute;
    const double t = absolute - out->start;
    last_t = std::max(last_t, t);
    const uint8_t* e = entry.bytes;
    switch (entry.cls) {
      case EntryClass::kCanFrame:
        if (clock.TimeEntrySeenInPass() && !IsDummyBlock(e)) {
          const uint32_t id = CanIdentifier(e);
          collect.Collect(decoder.ColumnsOf(id), t,
                          [&] { decoder.DecodeFrame(id, CanData(e), values.data()); });
        }
        break;
      case EntryClass::kExpression:
        collect.Collect(expression_columns, t, [&] {
          ApplyExpressionEntry(DecodeExpressionEntry(e), layout, values.data(), false);
        });
        break;
      case EntryClass::kBulkExpression:
        collect.Collect(expression_columns, t,
                        [&] { DecodeBulkBlock(entry, layout, values.data(), false); });
        break;
      case EntryClass::kGps1:
      case EntryClass::kGps2: {
        const int which = DecodeGpsEntry(std::span<const uint8_t>(e, 16), fix);
        gps1_seen = gps1_seen || which == 1;
        gps2_seen = gps2_seen || which == 2;
        if (gps1_seen && gps2_seen) {
          gps1_seen = gps2_seen = false;
          out->fixes.push_back(fix);
          out->fix_t.push_back(t);
        }
        break;
      }
      default:
        break;
    }
  }
  out->duration = last_t;
  for (ViewerChannel& ch : out->channels) {
    // A step back of the clock would break the time order the look-ups rely on.
    if (!std::is_sorted(ch.t.begin(), ch.t.end())) {
      std::vector<std::size_t> order(ch.t.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::stable_sort(order.begin(), order.end(),
                       [&](std::size_t a, std::size_t b) { return ch.t[a] < ch.t[b]; });
      std::vector<double> t(order.size()), v(order.size());
      for (std::size_t i = 0; i < order.size(); ++i) {
        t[i] = ch.t[order[i]];
        v[i] = ch.v[order[i]];
      }
      ch.t = std::move(t);
      ch.v = std::move(v);
    }
    FinishRanges(ch);
  }
  return true;
}

}  // namespace tessmar
