#include "logfile/simulator/recording_simulator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <queue>
#include <system_error>

#include "common/message_output.h"
#include "logfile/simulator/entry_encoder.h"
#include "logfile/simulator/header_text.h"
#include "logfile/simulator/sim_expression.h"

namespace tessmar {

using sim::kSlotSize;
using sim::Slot;

const char* SimEntryKindName(SimEntryKind kind) {
  switch (kind) {
    case SimEntryKind::kNone:
      return "none";
    case SimEntryKind::kCanFrame:
      return "can";
    case SimEntryKind::kTime:
      return "tim";
    case SimEntryKind::kEof:
      return "eof";
    case SimEntryKind::kPreTrigger:
      return "pre";
    case SimEntryKind::kTrigger:
      return "tri";
    case SimEntryKind::kExpression:
      return "expr";
    case SimEntryKind::kGps1:
      return "gps1";
    case SimEntryKind::kGps2:
      return "gps2";
    case SimEntryKind::kBulk:
      return "bulk";
    case SimEntryKind::kDummy:
      return "dummy";
    case SimEntryKind::kOther:
      return "other";
  }
  return "none";
}

namespace {

constexpr double kFramesPerSecondAtFullLoad = 4000.0;  // 500 kbit/s, ~125 bits per frame
constexpr double kDefaultPeriod = 0.1;                 // messages without write interval
constexpr double kRestartGap = 45.0;                   // seconds the logger is off
constexpr double kGpsPeriod = 1.0;
constexpr double kExpressionPeriod = 0.1;
constexpr double kBulkPeriod = 1.0;
constexpr std::size_t kWriteBuffer = 1 << 20;
constexpr int64_t kMaxCircularKb = 4 * 1024 * 1024;  // 4 GiB: positions stay 32-bit
constexpr uint64_t kMinCircularSlots = 64;

// splitmix64: small, fast and good enough for test data; deterministic for a seed.
class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed ^ 0x5DEECE66DULL) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }

 private:
  uint64_t s_;
};

// A value that drifts smoothly inside [lo, hi]: a velocity that random-walks, bounced at the
// bounds. Crossing the whole range takes some tens of seconds.
struct Wander {
  double lo = 0.0;
  double hi = 1.0;
  double x = 0.0;  // 0..1 within the range
  double v = 0.0;  // range per second

  void Init(Rng& rng, double low, double high) {
    lo = low;
    hi = high;
    x = rng.Range(0.2, 0.8);
    v = rng.Range(-0.05, 0.05);
  }
  double Step(Rng& rng, double dt) {
    v += (rng.Uniform() - 0.5) * 0.2 * std::sqrt(std::max(dt, 0.0));
    v = std::clamp(v, -0.1, 0.1);
    x += v * dt;
    if (x < 0.0) {
      x = -x;
      v = -v;
    }
    if (x > 1.0) {
      x = 2.0 - x;
      v = -v;
    }
    x = std::clamp(x, 0.0, 1.0);
    return lo + (hi - lo) * x;
  }
};

// Raw range of an integer signal of nb bits.
void RawRange(const T_CanLog_SigDef& s, double& lo, double& hi) {
  const int nb = std::clamp<int>(s.nb, 1, 64);
  const bool is_signed = s.ty == 'S' || s.ty == 's';
  if (is_signed) {
    lo = -std::ldexp(1.0, nb - 1);
    // 2^63 - 1 is no double; the largest double below 2^63 keeps the cast in range.
    hi = nb == 64 ? 9223372036854774784.0 : std::ldexp(1.0, nb - 1) - 1.0;
  } else {
    lo = 0.0;
    hi = std::ldexp(1.0, nb) - 1.0;
  }
}

struct SignalPlan {
  const T_CanLog_SigDef* def = nullptr;
  SimulatedChannel* channel = nullptr;
  Wander wander;
  int combo = -1;       // index of the mux combination, -1 when not multiplexed
  double raw_lo = 0.0;  // integer raw limits (U/S)
  double raw_hi = 0.0;
  double last_t = 0.0;
  std::size_t value_slot = 0;  // index into the current signal values
};

struct MuxCombo {
  int16_t sb = 0;
  int16_t nb = 0;
  char bo = 'I';
  int64_t value = 0;
};

struct MessagePlan {
  uint32_t id = 0;
  double period = kDefaultPeriod;
  double nominal = 0.0;
  uint8_t dlc = 8;
  std::vector<SignalPlan> signals;
  std::vector<MuxCombo> combos;
  std::size_t next_combo = 0;
  uint8_t free_bytes[8] = {};  // payload of a message without signals
};

struct ExpressionPlan {
  int index = 0;
  SimulatedChannel* channel = nullptr;
  sim::SimExpression expression;  // compiled: evaluated on the signal values, else the wander
  Wander wander;
  double value = 0.0;
  double last_t = 0.0;
};

enum class Source : int {
  kTime = 0,
  kPre,
  kRestart,
  kLostCarry,
  kTrigger,
  kDummy,
  kOdd,
  kGps,
  kBulk,
  kExpression,
  kMessage,  // + message index
};

struct Event {
  double e;   // seconds since the start of the recording (logger running time)
  int order;  // tie-break: lower first
  int source;
  bool operator>(const Event& o) const {
    if (e != o.e) return e > o.e;
    return order > o.order;
  }
};

struct SlotMeta {
  double time = 0.0;
  uint64_t ticks = 0;
  uint32_t id = 0;
  SimEntryKind kind = SimEntryKind::kNone;
  uint32_t slots = 0;  // 0 on the continuation slots of a BULK block
};

bool IsTimed(SimEntryKind k) {
  return k != SimEntryKind::kNone && k != SimEntryKind::kDummy && k != SimEntryKind::kEof;
}

// Counts of the entries a file holds, with its oldest and newest timed entry.
struct Tally {
  SimulationResult counts;
  bool have_first = false;
  SlotMeta last;
  SlotMeta last_timed;
  SlotMeta prev_timed;
  bool have_prev_timed = false;

  static uint64_t* Counter(SimulationResult& r, SimEntryKind k) {
    switch (k) {
      case SimEntryKind::kCanFrame:
        return &r.can_frames;
      case SimEntryKind::kTime:
        return &r.time_entries;
      case SimEntryKind::kExpression:
        return &r.expression_entries;
      case SimEntryKind::kBulk:
        return &r.bulk_blocks;
      case SimEntryKind::kGps1:
        return &r.gps_fixes;
      case SimEntryKind::kDummy:
        return &r.dummy_blocks;
      case SimEntryKind::kOther:
        return &r.other_entries;
      case SimEntryKind::kPreTrigger:
        return &r.pre_markers;
      case SimEntryKind::kTrigger:
        return &r.tri_markers;
      default:
        return nullptr;
    }
  }
  void Add(const SlotMeta& m) {
    ++counts.entries_in_file;
    if (uint64_t* c = Counter(counts, m.kind)) ++*c;
    last = m;
    if (!IsTimed(m.kind)) return;
    if (!have_first) {
      counts.first_time = m.time;
      counts.first_ticks = m.ticks;
      have_first = true;
    } else {
      prev_timed = last_timed;
      have_prev_timed = true;
    }
    last_timed = m;
    counts.last_time = m.time;
    counts.last_ticks = m.ticks;
  }
  // Takes back the newest entry (it was cut short).
  void RemoveLast() {
    if (counts.entries_in_file == 0) return;
    --counts.entries_in_file;
    if (uint64_t* c = Counter(counts, last.kind)) --*c;
    if (IsTimed(last.kind) && have_prev_timed) {
      counts.last_time = prev_timed.time;
      counts.last_ticks = prev_timed.ticks;
    }
  }
  void CopyTo(SimulationResult& r) const {
    r.entries_in_file = counts.entries_in_file;
    r.can_frames = counts.can_frames;
    r.time_entries = counts.time_entries;
    r.expression_entries = counts.expression_entries;
    r.bulk_blocks = counts.bulk_blocks;
    r.gps_fixes = counts.gps_fixes;
    r.dummy_blocks = counts.dummy_blocks;
    r.pre_markers = counts.pre_markers;
    r.tri_markers = counts.tri_markers;
    r.other_entries = counts.other_entries;
    r.first_time = counts.first_time;
    r.last_time = counts.last_time;
    r.first_ticks = counts.first_ticks;
    r.last_ticks = counts.last_ticks;
  }
};

// Collects the entry stream either straight into the file (linear recording) or into a ring of
// slots (circular recording, written out at the end).
class EntrySink {
 public:
  EntrySink(SimulationResult& result, bool keep_list) : result_(result), keep_list_(keep_list) {}

  bool OpenLinear(std::FILE* file, uint64_t first_entry_pos) {
    file_ = file;
    first_entry_pos_ = first_entry_pos;
    buffer_.reserve(kWriteBuffer);
    return true;
  }

  void OpenCircular(uint64_t capacity_slots, uint64_t first_entry_pos) {
    circular_ = true;
    capacity_ = capacity_slots;
    first_entry_pos_ = first_entry_pos;
    ring_.assign(capacity_ * kSlotSize, 0);
    meta_.assign(capacity_, SlotMeta{});
  }

  // Writes one entry of n slots.
  void Put(const uint8_t* bytes, uint32_t n, const SlotMeta& meta) {
    ++result_.entries_written;
    if (!circular_) {
      PutLinear(bytes, n, meta);
      return;
    }
    if (pos_ + n > capacity_) {
      // The block does not fit before the end of the file: fill the rest with filler slots and
      // go on at the first entry.
      while (pos_ < capacity_) {
        std::memset(&ring_[pos_ * kSlotSize], 0, kSlotSize);
        meta_[pos_] = SlotMeta{meta.time, meta.ticks, 0, SimEntryKind::kDummy, 1};
        ++pos_;
      }
    }
    if (pos_ >= capacity_) {
      pos_ = 0;
      wrapped_ = true;
    }
    std::memcpy(&ring_[pos_ * kSlotSize], bytes, n * kSlotSize);
    meta_[pos_] = meta;
    meta_[pos_].slots = n;
    for (uint32_t i = 1; i < n; ++i)
      meta_[pos_ + i] = SlotMeta{meta.time, meta.ticks, 0, meta.kind, 0};
    last_pos_ = pos_;
    pos_ += n;
    if (pos_ > high_water_) high_water_ = pos_;
  }

  // Position at which the next entry would go (file offset).
  uint64_t NextPos() const {
    if (!circular_) return first_entry_pos_ + written_slots_ * kSlotSize;
    return first_entry_pos_ + (pos_ >= capacity_ ? 0 : pos_) * kSlotSize;
  }
  uint64_t LastPos() const {
    return circular_ ? first_entry_pos_ + last_pos_ * kSlotSize : last_linear_pos_;
  }

  // After the eof marker of a circular file: the slots that follow it may be the tail of a
  // partly overwritten block; they become filler so every entry after the marker is whole.
  void CleanAfterNewest() {
    if (!circular_ || !wrapped_) return;
    uint64_t p = pos_;
    while (p < capacity_ && meta_[p].slots == 0) {
      std::memset(&ring_[p * kSlotSize], 0, kSlotSize);
      meta_[p] = SlotMeta{meta_[p].time, meta_[p].ticks, 0, SimEntryKind::kDummy, 1};
      ++p;
    }
  }

  bool Flush() {
    if (circular_ || buffer_.empty()) return true;
    const bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
    buffer_.clear();
    return ok && ok_;
  }

  bool ok() const { return ok_; }
  bool circular() const { return circular_; }
  bool wrapped() const { return wrapped_; }
  const std::vector<uint8_t>& ring() const { return ring_; }
  // Number of slots of the entry area in the file.
  uint64_t AreaSlots() const {
    return circular_ ? (wrapped_ ? capacity_ : high_water_) : written_slots_;
  }
  const std::vector<SlotMeta>& meta() const { return meta_; }
  uint64_t CircularPos() const { return pos_; }

  // What a linear file holds, counted while writing.
  Tally& linear_tally() { return tally_; }

 private:
  void PutLinear(const uint8_t* bytes, uint32_t n, const SlotMeta& meta) {
    const std::size_t size = n * kSlotSize;
    if (buffer_.size() + size > kWriteBuffer) {
      if (!Flush()) ok_ = false;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    last_linear_pos_ = first_entry_pos_ + written_slots_ * kSlotSize;
    written_slots_ += n;
    last_linear_ = meta;
    last_linear_.slots = n;
    tally_.Add(last_linear_);
    if (keep_list_) {
      result_.entries.push_back(
          SimulatedEntry{last_linear_pos_, meta.kind, n, meta.ticks, meta.time, meta.id});
    }
  }

  SimulationResult& result_;
  bool keep_list_;
  std::FILE* file_ = nullptr;
  std::vector<uint8_t> buffer_;
  bool ok_ = true;
  uint64_t first_entry_pos_ = 0;
  uint64_t written_slots_ = 0;
  uint64_t last_linear_pos_ = 0;
  SlotMeta last_linear_;
  Tally tally_;
  bool circular_ = false;
  uint64_t capacity_ = 0;
  uint64_t pos_ = 0;
  uint64_t last_pos_ = 0;
  uint64_t high_water_ = 0;
  bool wrapped_ = false;
  std::vector<uint8_t> ring_;
  std::vector<SlotMeta> meta_;
};

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

void Widen(SimulatedChannel& c, double v) {
  if (std::isnan(v)) {
    ++c.count;
    ++c.nan_count;
    return;
  }
  if (c.count == c.nan_count) {
    c.min = c.max = v;
  } else {
    c.min = std::min(c.min, v);
    c.max = std::max(c.max, v);
  }
  ++c.count;
}

class Simulator {
 public:
  Simulator(const LoggerConfiguration& config, const SimulatorOptions& options,
            SimulationResult& result)
      : cfg_(config),
        opt_(options),
        res_(result),
        rng_(options.seed),
        sink_(result, options.keep_entry_list) {}

  bool Run(const std::filesystem::path& path);

 private:
  bool Plan();
  uint64_t TicksAt(double e) const;
  double WallAt(double e) const {
    return static_cast<double>(opt_.start_date) + e + (e >= restart_e_ ? kRestartGap : 0.0);
  }
  uint64_t StampTicks(uint64_t t);
  void Emit(const uint8_t* bytes, uint32_t n, SimEntryKind kind, double e, uint64_t ticks,
            uint32_t id);
  void EmitFrame(MessagePlan& m, double e);
  void EmitTime(double e);
  void StepExpression(ExpressionPlan& x, double e);
  void EmitExpressions(double e);
  void EmitBulk(double e);
  void EmitGps(double e);
  void EmitDummies(double e);
  void EmitLostCarry(double e);
  void EmitOddEntries(double e);
  bool BuildHeader(int64_t fifo_kb, std::string& header);
  bool CircularCapacity(int64_t fifo_kb, uint64_t& capacity);
  void EmitMarker(const char* tag, SimEntryKind kind, double e);
  void RunEvents();
  void WriteEnd();
  void FillBinaryHeader(uint8_t (&out)[sim::kBinaryHeaderSize]);
  bool CutShort(const std::filesystem::path& path);
  void Summarise();

  const LoggerConfiguration& cfg_;
  const SimulatorOptions& opt_;
  SimulationResult& res_;
  Rng rng_;
  EntrySink sink_;

  double freq_ = 39065.5;
  double duration_ = 60.0;
  uint64_t counter_start_ = 0;    // counter at the start of the recording
  uint64_t counter_restart_ = 0;  // counter right after the restart
  double restart_e_ = std::numeric_limits<double>::infinity();
  double lost_carry_e_ = -1.0;
  uint64_t lost_carry_boundary_ = 0;
  std::vector<double> dummy_e_;
  double rtc_offset_ = 0.0;  // RTC reading minus true time
  bool gps_ = false;
  uint64_t last_ticks_ = 0;  // counter of the last entry (the counter never runs backwards)

  std::vector<MessagePlan> messages_;
  std::vector<double> signal_values_;      // latest physical value written per signal
  std::vector<std::string> signal_names_;  // by value slot
  std::vector<ExpressionPlan> expressions_;
  int highest_expression_ = -1;
  uint64_t bulk_count_ = 0;
  uint64_t frames_written_ = 0;

  // GPS track
  double lat_ = 52.2711;  // degrees
  double lon_ = 10.5209;
  double heading_ = 0.7;  // radians, 0 = north
  double height_ = 82.0;  // m
  Wander gps_speed_;
  int gps_fixes_written_ = 0;

  sim::BulkBlockBuilder bulk_;
};

bool Simulator::Plan() {
  freq_ = cfg_.cfg.TimestampFreq > 0 ? cfg_.cfg.TimestampFreq : 39065.5;
  duration_ = opt_.duration_s;
  if (!(duration_ > 0.0) || duration_ > 1e7) {
    res_.error = "The duration must be above 0 and at most 10000000 seconds.";
    return false;
  }
  if (opt_.bus_load_percent < 0.0 || opt_.bus_load_percent > 100000.0) {
    res_.error = "The bus load must lie between 0 and 100000 percent.";
    return false;
  }
  gps_ = opt_.gps.value_or(cfg_.cfg.ReceiveGps != 0);

  // Messages: every used message slot, then identifiers that only signals name.
  auto find_or_add = [&](uint32_t id) -> MessagePlan& {
    for (auto& m : messages_) {
      if (m.id == id) return m;
    }
    MessagePlan m;
    m.id = id;
    messages_.push_back(m);
    return messages_.back();
  };
  for (const auto& m : cfg_.cfg.Msg) {
    if (!m.used()) continue;
    MessagePlan& plan = find_or_add(m.id);
    if (m.wi > 0) plan.period = std::min<int>(m.wi, 1000) * 0.01;
  }
  // The logger's own limit of the write interval applies to every message.
  const double rate_limit = cfg_.cfg.MsgRateLimit > 0 ? cfg_.cfg.MsgRateLimit * 0.001 : 0.0;
  res_.signals.reserve(MAX_LOGGED_SIGNALS);  // channel pointers stay valid
  for (const auto& s : cfg_.sigs) {
    if (!s.used() || s.sn[0] <= ' ') continue;
    res_.signals.push_back(SimulatedChannel{std::string(TextOf(s.sn)), 0, 0, 0.0, 0.0});
    MessagePlan& plan = find_or_add(s.id);
    SignalPlan sp;
    sp.def = &s;
    sp.channel = &res_.signals.back();
    RawRange(s, sp.raw_lo, sp.raw_hi);
    double lo = s.mi;
    double hi = s.ma;
    const bool is_float = s.ty == 'F' || s.ty == 'f' || s.ty == 'D' || s.ty == 'd';
    if (!(hi > lo) || !std::isfinite(hi - lo)) {
      if (is_float) {
        lo = -100.0;
        hi = 100.0;
      } else {
        const double fa = s.fa == 0.0 ? 1.0 : s.fa;
        lo = std::min(sp.raw_lo * fa, sp.raw_hi * fa) + s.of;
        hi = std::max(sp.raw_lo * fa, sp.raw_hi * fa) + s.of;
      }
      if (!std::isfinite(hi - lo)) {  // absurd factor or offset: values around zero
        lo = -100.0;
        hi = 100.0;
      }
    }
    sp.wander.Init(rng_, lo, hi);
    // Until its first frame a signal holds the value its wander starts from.
    sp.value_slot = signal_values_.size();
    signal_values_.push_back(lo + (hi - lo) * sp.wander.x);
    signal_names_.emplace_back(TextOf(s.sn));
    if (s.multiplexed()) {
      MuxCombo c{s.mu.MuxStartBit, s.mu.MuxBitCount, s.mu.MuxByteOrder == 'M' ? 'M' : 'I',
                 s.mu.MuxVal};
      int found = -1;
      for (std::size_t i = 0; i < plan.combos.size(); ++i) {
        const auto& o = plan.combos[i];
        if (o.sb == c.sb && o.nb == c.nb && o.bo == c.bo && o.value == c.value)
          found = static_cast<int>(i);
      }
      if (found < 0) {
        plan.combos.push_back(c);
        found = static_cast<int>(plan.combos.size() - 1);
      }
      sp.combo = found;
    }
    plan.signals.push_back(sp);
  }
  if (messages_.empty()) {
    res_.error = "The configuration logs no CAN message.";
    return false;
  }
  for (auto& m : messages_) {
    if (m.signals.empty()) {
      m.dlc = 8;
      for (auto& b : m.free_bytes) b = static_cast<uint8_t>(rng_.Next());
      continue;
    }
    uint8_t scratch[8] = {};
    int used = 0;
    for (const auto& sp : m.signals) {
      used = std::max(used, sim::InsertBits(scratch, sp.def->sb, sp.def->nb, sp.def->bo, ~0ULL));
      if (sp.combo >= 0) {
        const auto& c = m.combos[sp.combo];
        used = std::max(used, sim::InsertBits(scratch, c.sb, c.nb, c.bo, ~0ULL));
      }
    }
    m.dlc = static_cast<uint8_t>(std::max(used, 1));
  }

  for (auto& m : messages_) m.period = std::max(m.period, rate_limit);
  // Rates: as configured, or scaled to the asked bus load.
  if (opt_.bus_load_percent > 0.0) {
    double natural = 0.0;
    for (const auto& m : messages_) natural += 1.0 / m.period;
    const double target = opt_.bus_load_percent / 100.0 * kFramesPerSecondAtFullLoad;
    for (auto& m : messages_) m.period *= natural / target;
  }
  for (auto& m : messages_) {
    m.period = std::max(m.period, 2.0 / freq_);
    m.nominal = rng_.Range(0.0, std::min(m.period, 0.05));
  }

  for (int i = 0; i < MAX_LOGGED_EXPRESSIONS; ++i) {
    const auto& x = cfg_.cfg.Exp[i];
    if (x.ex[0] <= ' ') continue;
    res_.expressions.push_back(
        SimulatedChannel{std::string(x.na[0] > ' ' ? TextOf(x.na) : TextOf(x.ex)), 0, 0, 0.0, 0.0});
  }
  for (int i = 0, k = 0; i < MAX_LOGGED_EXPRESSIONS; ++i) {
    const auto& x = cfg_.cfg.Exp[i];
    if (x.ex[0] <= ' ') continue;
    ExpressionPlan p;
    p.index = i;
    p.channel = &res_.expressions[k++];
    p.wander.Init(rng_, x.ma > x.mi ? x.mi : 0.0, x.ma > x.mi ? x.ma : 100.0);
    p.expression.Compile(TextOf(x.ex), [this](std::string_view name) {
      const auto it = std::find(signal_names_.begin(), signal_names_.end(), name);
      return it == signal_names_.end() ? -1 : static_cast<int>(it - signal_names_.begin());
    });
    expressions_.push_back(p);
    highest_expression_ = i;
  }

  // Counter and faults.
  counter_start_ = static_cast<uint64_t>(rng_.Range(0.1, 0.6) * freq_);
  if (opt_.faults.wrap24) counter_start_ = 0x1000000ULL - static_cast<uint64_t>(0.5 * freq_);
  if (opt_.faults.counter_restart) {
    restart_e_ = std::floor(duration_ * 0.6) + 0.37;
    if (restart_e_ >= duration_) restart_e_ = duration_ * 0.6;
    counter_restart_ = static_cast<uint64_t>(rng_.Range(0.1, 0.3) * freq_);
  }
  if (opt_.faults.lost_carry) {
    // The two frames around a carry into bit 16, somewhere before the restart.
    const double at = std::min(duration_ * 0.45, restart_e_ - 1.0);
    const uint64_t t = TicksAt(std::max(at, 0.0)) + 32;
    lost_carry_boundary_ = (t | 0xFFFF) + 1;
    lost_carry_e_ = (static_cast<double>(lost_carry_boundary_ - 16 - counter_start_)) / freq_;
    if (lost_carry_e_ >= restart_e_ || lost_carry_e_ >= duration_) lost_carry_e_ = -1.0;
  }
  if (opt_.faults.dummy_blocks) {
    for (double f : {0.2, 0.5, 0.8}) dummy_e_.push_back(duration_ * f + rng_.Range(0.0, 0.05));
  }
  if (opt_.faults.bad_rtc_date) {
    rtc_offset_ =
        static_cast<double>(sim::SecondsFromCivil(1999, 12, 31, 23, 50, 0) - opt_.start_date);
  }
  gps_speed_.Init(rng_, 0.0, 90.0);
  return true;
}

uint64_t Simulator::TicksAt(double e) const {
  if (e >= restart_e_) return counter_restart_ + static_cast<uint64_t>((e - restart_e_) * freq_);
  return counter_start_ + static_cast<uint64_t>(std::max(e, 0.0) * freq_);
}

uint64_t Simulator::StampTicks(uint64_t t) {
  if (t < last_ticks_) t = last_ticks_;
  last_ticks_ = t;
  return t;
}

void Simulator::Emit(const uint8_t* bytes, uint32_t n, SimEntryKind kind, double e, uint64_t ticks,
                     uint32_t id) {
  sink_.Put(bytes, n, SlotMeta{WallAt(e), ticks, id, kind, n});
}

void Simulator::EmitFrame(MessagePlan& m, double e) {
  uint8_t data[8] = {};
  if (m.signals.empty()) {
    // A message without logged signals: a counter and slowly changing bytes.
    m.free_bytes[0] = static_cast<uint8_t>(m.free_bytes[0] + 1);
    if ((rng_.Next() & 15) == 0)
      m.free_bytes[1 + rng_.Next() % 7] = static_cast<uint8_t>(rng_.Next());
    std::memcpy(data, m.free_bytes, 8);
  } else {
    int combo = -1;
    if (!m.combos.empty()) {
      combo = static_cast<int>(m.next_combo);
      m.next_combo = (m.next_combo + 1) % m.combos.size();
    }
    for (auto& sp : m.signals) {
      if (sp.combo >= 0 && sp.combo != combo) continue;
      const T_CanLog_SigDef& s = *sp.def;
      const double phys = sp.wander.Step(rng_, e - sp.last_t);
      sp.last_t = e;
      const double fa = s.fa;
      double raw = fa != 0.0 ? (phys - s.of) / fa : 0.0;
      if (!std::isfinite(raw)) raw = 0.0;
      uint64_t bits = 0;
      double written = phys;
      switch (s.ty) {
        case 'F':
        case 'f': {
          const float f = static_cast<float>(raw);
          uint32_t u;
          std::memcpy(&u, &f, 4);
          bits = u;
          written = static_cast<double>(f) * fa + s.of;
          break;
        }
        case 'D':
        case 'd': {
          std::memcpy(&bits, &raw, 8);
          written = raw * fa + s.of;
          break;
        }
        default: {
          raw = std::clamp(std::round(raw), sp.raw_lo, sp.raw_hi);
          if (raw < 0) {
            bits = static_cast<uint64_t>(static_cast<int64_t>(raw));
          } else {
            bits = raw >= 18446744073709549568.0 ? ~0ULL : static_cast<uint64_t>(raw);
          }
          written = raw * fa + s.of;
          break;
        }
      }
      sim::InsertBits(data, s.sb, s.nb, s.bo, bits);
      Widen(*sp.channel, written);
      signal_values_[sp.value_slot] = written;
    }
    if (combo >= 0) {
      const auto& c = m.combos[combo];
      sim::InsertBits(data, c.sb, c.nb, c.bo, static_cast<uint64_t>(c.value));
    }
  }
  const uint64_t t = StampTicks(TicksAt(e));
  Slot slot;
  sim::EncodeCanFrame(slot, m.dlc, static_cast<uint32_t>(t), m.id, data);
  // A frame whose first eight bytes are all zero would read as filler; the logger's counter
  // makes that practically impossible, but keep it impossible here too.
  if (std::all_of(slot, slot + 8, [](uint8_t b) { return b == 0; })) slot[0] = 0x08;
  Emit(slot, 1, SimEntryKind::kCanFrame, e, t, m.id);
  ++frames_written_;
}

void Simulator::EmitTime(double e) {
  const uint64_t t = StampTicks(TicksAt(e));
  const sim::CivilTime date = sim::CivilFromSeconds(WallAt(e) + rtc_offset_);
  Slot slot;
  sim::EncodeTimeEntry(slot, static_cast<uint32_t>(t), date);
  Emit(slot, 1, SimEntryKind::kTime, e, t, 0);
}

// The expression's value at e: evaluated on the signal values written so far when it could be
// compiled, else its own moving value. The wander moves in both cases, so that the random stream
// (and everything else in the recording) does not depend on the expression texts.
void Simulator::StepExpression(ExpressionPlan& x, double e) {
  x.value = x.wander.Step(rng_, e - x.last_t);
  x.last_t = e;
  if (x.expression.compiled()) x.value = x.expression.Evaluate(signal_values_);
}

void Simulator::EmitExpressions(double e) {
  if (expressions_.empty()) return;
  for (auto& x : expressions_) StepExpression(x, e);
  const uint64_t t = StampTicks(TicksAt(e));
  // One entry per pair of expression numbers (k, k + 1) that holds a used expression.
  for (int k = 0; k <= highest_expression_; k += 2) {
    const ExpressionPlan* a = nullptr;
    const ExpressionPlan* b = nullptr;
    for (const auto& x : expressions_) {
      if (x.index == k) a = &x;
      if (x.index == k + 1) b = &x;
    }
    if (!a && !b) continue;
    // A value that is no number (a division by zero) is written as "no value".
    if (a && !std::isfinite(a->value)) a = nullptr;
    if (b && !std::isfinite(b->value)) b = nullptr;
    const float fa = a ? static_cast<float>(a->value) : 0.0f;
    const float fb = b ? static_cast<float>(b->value) : 0.0f;
    Slot slot;
    sim::EncodeExpressionEntry(slot, static_cast<uint8_t>(k), static_cast<uint32_t>(t),
                               a ? &fa : nullptr, b ? &fb : nullptr);
    if (a) Widen(*a->channel, fa);
    if (b) Widen(*b->channel, fb);
    Emit(slot, 1, SimEntryKind::kExpression, e, t, 0);
  }
}

void Simulator::EmitBulk(double e) {
  if (expressions_.empty()) return;
  const uint64_t t = StampTicks(TicksAt(e));
  // Both block forms occur: every other block uses the 16-bit length.
  bulk_.Start(static_cast<uint32_t>(t), (bulk_count_++ & 1) != 0);
  static constexpr sim::BulkType kTypes[] = {sim::BulkType::kFloat32, sim::BulkType::kInt16,
                                             sim::BulkType::kFloat64, sim::BulkType::kUns32,
                                             sim::BulkType::kInt32,   sim::BulkType::kUns8,
                                             sim::BulkType::kInt8,    sim::BulkType::kUns16};
  for (auto& x : expressions_) {
    StepExpression(x, e);
    if (!std::isfinite(x.value)) continue;  // no value: no record
    const auto type = kTypes[x.index % 8];
    const uint8_t idx = static_cast<uint8_t>(x.index);
    double written = x.value;
    switch (type) {
      case sim::BulkType::kFloat32: {
        const float f = static_cast<float>(x.value);
        bulk_.AddFloat32(idx, f);
        written = f;
        break;
      }
      case sim::BulkType::kFloat64:
        bulk_.AddFloat64(idx, x.value);
        break;
      default: {
        double lo = 0, hi = 0;
        switch (type) {
          case sim::BulkType::kInt8:
            lo = -128;
            hi = 127;
            break;
          case sim::BulkType::kInt16:
            lo = -32768;
            hi = 32767;
            break;
          case sim::BulkType::kInt32:
            lo = -2147483648.0;
            hi = 2147483647.0;
            break;
          case sim::BulkType::kUns8:
            hi = 255;
            break;
          case sim::BulkType::kUns16:
            hi = 65535;
            break;
          default:
            hi = 4294967295.0;
            break;
        }
        const double v = std::clamp(std::round(x.value), lo, hi);
        bulk_.AddInteger(idx, type, static_cast<int64_t>(v));
        written = v;
        break;
      }
    }
    Widen(*x.channel, written);
  }
  const auto block = bulk_.Finish();
  Emit(block.data(), static_cast<uint32_t>(block.size() / kSlotSize), SimEntryKind::kBulk, e, t, 0);
}

void Simulator::EmitGps(double e) {
  const double wall = WallAt(e);
  const double speed = gps_speed_.Step(rng_, kGpsPeriod);
  heading_ += rng_.Range(-0.15, 0.15);
  const double dist = speed / 3.6 * kGpsPeriod;
  lat_ += dist * std::cos(heading_) / 111320.0;
  lon_ += dist * std::sin(heading_) / (111320.0 * std::cos(lat_ * M_PI / 180.0));
  if (std::fabs(lat_) > 80.0) {  // a very long drive: turn back before the pole
    lat_ = std::copysign(80.0, lat_);
    heading_ = M_PI - heading_;
  }
  if (lon_ > 180.0) lon_ -= 360.0;
  if (lon_ < -180.0) lon_ += 360.0;
  height_ = std::clamp(height_ + rng_.Range(-0.5, 0.5), -50.0, 3000.0);
  const bool has_fix = gps_fixes_written_ >= 3;  // the receiver needs a moment for its first fix
  ++gps_fixes_written_;

  sim::GpsFix1 f1;
  const sim::CivilTime utc = sim::CivilFromSeconds(wall);
  f1.time_of_day_cs = static_cast<uint32_t>(((utc.hour * 60 + utc.minute) * 60 + utc.second) * 100 +
                                            utc.hundredths);
  if (has_fix) {
    f1.quality = 1;
    f1.warning = false;
    f1.satellites = static_cast<uint8_t>(7 + rng_.Next() % 5);
    f1.hdop_x10 = static_cast<uint8_t>(9 + rng_.Next() % 8);
    f1.packed_date = sim::PackGpsDate(utc.year, utc.month, utc.day);
    f1.speed_x10 = static_cast<int16_t>(std::lround(speed * 10.0));
  } else {
    f1.quality = 0;
    f1.warning = true;
    f1.satellites = 2;
    f1.hdop_x10 = 99;
  }
  const uint64_t t = StampTicks(TicksAt(e));
  Slot s1;
  Slot s2;
  sim::EncodeGps1(s1, static_cast<uint32_t>(t), f1);
  const int32_t lat_cs = has_fix ? static_cast<int32_t>(std::lround(lat_ * 360000.0)) : 0;
  const int32_t lon_cs = has_fix ? static_cast<int32_t>(std::lround(lon_ * 360000.0)) : 0;
  sim::EncodeGps2(s2, static_cast<int16_t>(has_fix ? std::lround(height_ * 10.0) : 0), lat_cs,
                  lon_cs);
  Emit(s1, 1, SimEntryKind::kGps1, e, t, 0);
  Emit(s2, 1, SimEntryKind::kGps2, e, t, 0);
}

void Simulator::EmitDummies(double e) {
  const int run = 1 + static_cast<int>(rng_.Next() % 3);
  const uint64_t first = sink_.NextPos();
  Slot zero = {};
  for (int i = 0; i < run; ++i) Emit(zero, 1, SimEntryKind::kDummy, e, last_ticks_, 0);
  res_.faults.push_back(StrPrintf("dummy_blocks count=%d filepos=0x%08llX", run,
                                  static_cast<unsigned long long>(first)));
}

void Simulator::EmitLostCarry(double e) {
  // Two frames of the first message: one just below a carry into bit 16, one just after it
  // whose stamp still shows the old bits 16..23.
  MessagePlan& m = messages_.front();
  const uint64_t a = StampTicks(lost_carry_boundary_ - 16);
  const uint64_t b = StampTicks(lost_carry_boundary_ + 5);
  uint8_t data[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  if (!m.signals.empty()) std::memset(data, 0, 8);
  Slot slot;
  sim::EncodeCanFrame(slot, m.dlc, static_cast<uint32_t>(a), m.id, data);
  slot[0] |= 0x08;  // never all zero
  Emit(slot, 1, SimEntryKind::kCanFrame, e, a, m.id);
  const uint32_t stale = static_cast<uint32_t>(b) - 0x10000u;
  sim::EncodeCanFrame(slot, m.dlc, stale, m.id, data);
  slot[0] |= 0x08;
  const uint64_t pos = sink_.NextPos();
  Emit(slot, 1, SimEntryKind::kCanFrame, e + 21.0 / freq_, b, m.id);
  frames_written_ += 2;
  res_.faults.push_back(StrPrintf("lost_carry filepos=0x%08llX ts=0x%06X true=0x%08X",
                                  static_cast<unsigned long long>(pos), stale & 0xFFFFFFu,
                                  static_cast<uint32_t>(b)));
}

void Simulator::EmitOddEntries(double e) {
  const uint64_t t = StampTicks(TicksAt(e));
  const uint32_t t32 = static_cast<uint32_t>(t);
  const uint64_t first = sink_.NextPos();
  Slot slot;
  auto fill = [&](uint8_t type) {
    for (auto& b : slot) b = static_cast<uint8_t>(rng_.Next());
    slot[0] = type;
    std::memcpy(slot + 4, &t32, 4);
  };
  sim::EncodeMarker(slot, "TIM", t32);  // tags are lower case: this one is unknown
  Emit(slot, 1, SimEntryKind::kOther, e, t, 0);
  sim::EncodeMarker(slot, "xyz", t32);
  Emit(slot, 1, SimEntryKind::kOther, e, t, 0);
  for (uint8_t type : {uint8_t{0x80}, uint8_t{0xB0}, uint8_t{0xA0}, uint8_t{0xA5}}) {
    fill(type);
    Emit(slot, 1, SimEntryKind::kOther, e, t, 0);
  }
  // BULK blocks of other kinds: read over whole.
  uint8_t block[48];
  for (auto& b : block) b = static_cast<uint8_t>(rng_.Next());
  block[0] = 0xC3;  // kind 00, three slots
  Emit(block, 3, SimEntryKind::kOther, e, t, 0);
  block[0] = 0xE0;  // kind 10, long form of 40 bytes (three slots)
  block[1] = 40;
  block[2] = 0;
  Emit(block, 3, SimEntryKind::kOther, e, t, 0);
  // Frames that carry no signal values: the free-slot identifier, and a length code above 8.
  const uint8_t data[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
  sim::EncodeCanFrame(slot, 8, t32, 0xFFFFFFFFu, data);
  Emit(slot, 1, SimEntryKind::kCanFrame, e, t, 0xFFFFFFFFu);
  MessagePlan& m = messages_.front();
  sim::EncodeCanFrame(slot, 0x0F, t32, m.id, data);
  Emit(slot, 1, SimEntryKind::kCanFrame, e, t, m.id);
  frames_written_ += 2;
  // An expression entry whose values must not be used.
  const float junk = 12345.0f;
  sim::EncodeExpressionEntry(slot, 0, t32, &junk, &junk);
  slot[2] = 0x01;
  Emit(slot, 1, SimEntryKind::kExpression, e, t, 0);
  if (!expressions_.empty()) {
    // Text and value-less records for the first expression; its next value follows soon.
    const uint8_t idx = static_cast<uint8_t>(expressions_.front().index);
    bulk_.Start(t32, true);
    bulk_.AddString(idx, "odd entry");
    bulk_.AddRecord(idx, sim::BulkType::kOctets);
    bulk_.AddNoValue(idx);
    const auto b = bulk_.Finish();
    Emit(b.data(), static_cast<uint32_t>(b.size() / kSlotSize), SimEntryKind::kBulk, e, t, 0);
  }
  res_.faults.push_back(
      StrPrintf("odd_entries filepos=0x%08llX", static_cast<unsigned long long>(first)));
}

bool Simulator::Run(const std::filesystem::path& path) {
  if (!Plan()) return false;
  res_.timer_frequency = freq_;
  res_.start_date = opt_.start_date + static_cast<int64_t>(rtc_offset_);
  res_.start_timestamp = static_cast<uint32_t>(counter_start_);

  int64_t fifo_kb = opt_.fifo_size_kb;
  if (fifo_kb < 0)
    fifo_kb = cfg_.cfg.FifoMode != 0 && cfg_.cfg.FileSizeLimit > 0 ? cfg_.cfg.FileSizeLimit : 0;
  std::string header;
  if (!BuildHeader(fifo_kb, header)) return false;
  uint64_t capacity = 0;
  if (fifo_kb > 0 && !CircularCapacity(fifo_kb, capacity)) return false;

  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.string().c_str(), "wb"));
  if (!file) {
    res_.error = StrPrintf("Cannot create \"%s\" .", path.string().c_str());
    return false;
  }
  uint8_t binary_header[sim::kBinaryHeaderSize] = {};  // filled in at the end
  bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
  if (opt_.binary_header) {
    ok = ok &&
         std::fwrite(binary_header, 1, sizeof binary_header, file.get()) == sizeof binary_header;
  }
  if (capacity > 0) {
    sink_.OpenCircular(capacity, res_.first_entry_pos);
    res_.circular = true;
  } else {
    sink_.OpenLinear(file.get(), res_.first_entry_pos);
  }

  RunEvents();
  WriteEnd();
  ok = ok && sink_.Flush() && sink_.ok();
  if (sink_.circular()) {
    const std::size_t bytes = sink_.AreaSlots() * kSlotSize;
    ok = ok && std::fwrite(sink_.ring().data(), 1, bytes, file.get()) == bytes;
  }
  res_.wrapped = sink_.wrapped();
  Summarise();
  if (opt_.binary_header) {
    FillBinaryHeader(binary_header);
    ok = ok && std::fseek(file.get(), static_cast<long>(res_.binary_pos), SEEK_SET) == 0 &&
         std::fwrite(binary_header, 1, sizeof binary_header, file.get()) == sizeof binary_header;
  }
  ok = std::fclose(file.release()) == 0 && ok;
  res_.file_size = res_.first_entry_pos + sink_.AreaSlots() * kSlotSize;
  if (ok && opt_.faults.truncated_end) ok = CutShort(path);
  if (!ok) {
    if (res_.error.empty())
      res_.error = StrPrintf("Could not write \"%s\" .", path.string().c_str());
    std::error_code ec;
    std::filesystem::remove(path, ec);  // a half-written recording is of no use to anyone
    return false;
  }
  return true;
}

bool Simulator::BuildHeader(int64_t fifo_kb, std::string& header) {
  // The header as the logger writes it: the configuration as recorded, [LogFileInfo], the marker.
  LoggerConfiguration header_cfg = cfg_;
  if (opt_.password) SetText(header_cfg.cfg.Password1, *opt_.password);
  if (fifo_kb > 0) {
    header_cfg.cfg.FifoMode = 1;
    header_cfg.cfg.FileSizeLimit = static_cast<int32_t>(std::min<int64_t>(fifo_kb, 0x7FFFFFFF));
  }
  header_cfg.cfg.ReceiveGps = gps_ ? 1 : 0;
  if (!sim::BuildHeaderText(header_cfg, res_.start_date, res_.start_timestamp, header)) {
    res_.error = "Could not build the configuration text of the recording header.";
    return false;
  }
  res_.binary_pos = header.size();
  res_.first_entry_pos = res_.binary_pos + (opt_.binary_header ? sim::kBinaryHeaderSize : 0);
  return true;
}

bool Simulator::CircularCapacity(int64_t fifo_kb, uint64_t& capacity) {
  if (fifo_kb > kMaxCircularKb) {
    res_.error = "The circular file size is limited to 4 GB.";
    return false;
  }
  const uint64_t limit = static_cast<uint64_t>(fifo_kb) * 1024;
  capacity = limit > res_.first_entry_pos ? (limit - res_.first_entry_pos) / kSlotSize : 0;
  if (capacity < kMinCircularSlots) {
    res_.error =
        StrPrintf("The circular file size of %lld KB leaves no room for entries after the header.",
                  static_cast<long long>(fifo_kb));
    return false;
  }
  return true;
}

void Simulator::EmitMarker(const char* tag, SimEntryKind kind, double e) {
  const uint64_t t = StampTicks(TicksAt(e));
  Slot slot;
  if (kind == SimEntryKind::kTrigger) {
    sim::EncodeTriggerMarker(slot, static_cast<uint32_t>(t), 0x01, 0x00);  // start condition met
  } else {
    sim::EncodeMarker(slot, tag, static_cast<uint32_t>(t));
  }
  Emit(slot, 1, kind, e, t, 0);
}

// Every source of entries keeps its next due time in one queue; entries come out in time order.
void Simulator::RunEvents() {
  std::priority_queue<Event, std::vector<Event>, std::greater<Event>> queue;
  auto push = [&](double e, int order, Source source, int offset = 0) {
    queue.push({e, order, static_cast<int>(source) + offset});
  };
  push(0.0, 0, Source::kTime);
  push(0.0, 1, Source::kPre);
  push(duration_ / 3.0, 2, Source::kTrigger);
  if (restart_e_ < duration_) push(restart_e_, 0, Source::kRestart);
  if (lost_carry_e_ >= 0.0) push(lost_carry_e_, 3, Source::kLostCarry);
  for (double e : dummy_e_) push(e, 4, Source::kDummy);
  if (opt_.faults.odd_entries) push(duration_ * 0.7, 4, Source::kOdd);
  if (gps_) push(0.25, 5, Source::kGps);
  if (!expressions_.empty()) {
    push(0.5, 6, Source::kBulk);
    push(0.05, 7, Source::kExpression);
  }
  for (std::size_t i = 0; i < messages_.size(); ++i) {
    push(messages_[i].nominal, 10, Source::kMessage, static_cast<int>(i));
  }
  double next_time_entry = 0.0;
  while (!queue.empty() && sink_.ok()) {
    const Event ev = queue.top();
    queue.pop();
    if (ev.e >= duration_) continue;
    const double e = ev.e;
    switch (static_cast<Source>(std::min(ev.source, static_cast<int>(Source::kMessage)))) {
      case Source::kTime:
        EmitTime(e);
        next_time_entry += 1.0;
        queue.push({next_time_entry, ev.order, ev.source});
        break;
      case Source::kPre:
        EmitMarker("pre", SimEntryKind::kPreTrigger, e);
        break;
      case Source::kTrigger:
        EmitMarker("tri", SimEntryKind::kTrigger, e);
        break;
      case Source::kRestart:
        last_ticks_ = 0;  // the counter starts again
        res_.faults.push_back(StrPrintf("counter_restart filepos=0x%08llX gap=%g counter=%llu",
                                        static_cast<unsigned long long>(sink_.NextPos()),
                                        kRestartGap,
                                        static_cast<unsigned long long>(counter_restart_)));
        break;
      case Source::kLostCarry:
        EmitLostCarry(e);
        break;
      case Source::kDummy:
        EmitDummies(e);
        break;
      case Source::kOdd:
        EmitOddEntries(e);
        break;
      case Source::kGps:
        EmitGps(e);
        queue.push({e + kGpsPeriod, ev.order, ev.source});
        break;
      case Source::kBulk:
        EmitBulk(e);
        queue.push({e + kBulkPeriod, ev.order, ev.source});
        break;
      case Source::kExpression:
        EmitExpressions(e);
        queue.push({e + kExpressionPeriod, ev.order, ev.source});
        break;
      case Source::kMessage: {
        MessagePlan& m =
            messages_[static_cast<std::size_t>(ev.source - static_cast<int>(Source::kMessage))];
        EmitFrame(m, e);
        m.nominal += m.period;
        const double jitter = (rng_.Uniform() - 0.5) * 0.1 * m.period;
        queue.push({std::max(m.nominal + jitter, e), ev.order, ev.source});
        break;
      }
    }
  }
  if (opt_.faults.wrap24) {
    res_.faults.push_back(
        StrPrintf("wrap24 counter=0x%08llX", static_cast<unsigned long long>(counter_start_)));
  }
  if (opt_.faults.bad_rtc_date) {
    res_.faults.push_back(
        StrPrintf("bad_rtc_date start=%lld", static_cast<long long>(res_.start_date)));
  }
}

// "eof" after the newest entry, unless the power went off.
void Simulator::WriteEnd() {
  if (opt_.faults.truncated_end) return;
  EmitMarker("eof", SimEntryKind::kEof, duration_);
  res_.eof_pos = static_cast<int64_t>(sink_.LastPos());
  sink_.CleanAfterNewest();
}

void Simulator::FillBinaryHeader(uint8_t (&out)[sim::kBinaryHeaderSize]) {
  sim::BinaryHeaderFields f;
  f.file_pos_for_next_write = static_cast<uint32_t>(
      res_.eof_pos >= 0 ? static_cast<uint64_t>(res_.eof_pos) : sink_.NextPos());
  f.count_written_entries = static_cast<uint32_t>(res_.entries_written);
  f.count_received_msgs = static_cast<uint32_t>(frames_written_);
  f.count_can_irqs = static_cast<uint32_t>(frames_written_ + frames_written_ / 50);
  for (auto& c : f.cpu_load) c = static_cast<uint16_t>(10 + rng_.Next() % 30);
  std::memcpy(f.firmware_compile_date, "Mar 14 2026", 12);
  f.firmware_article_number = 30512;
  sim::EncodeBinaryHeader(out, f);
}

// Power lost while the newest entry was written: only its first bytes reached the card.
bool Simulator::CutShort(const std::filesystem::path& path) {
  if (sink_.AreaSlots() == 0) return true;
  const uint64_t keep = 1 + rng_.Next() % 15;
  res_.file_size -= kSlotSize - keep;
  std::error_code ec;
  std::filesystem::resize_file(path, res_.file_size, ec);
  if (ec) {
    res_.error = StrPrintf("Could not cut \"%s\" short .", path.string().c_str());
    return false;
  }
  res_.faults.push_back(StrPrintf("truncated_end filepos=0x%08llX kept=%llu",
                                  static_cast<unsigned long long>(res_.file_size - keep),
                                  static_cast<unsigned long long>(keep)));
  return true;
}

// Counts and times of what the file holds, in file order.
void Simulator::Summarise() {
  const bool truncated = opt_.faults.truncated_end;
  if (!sink_.circular()) {
    Tally& tally = sink_.linear_tally();
    if (truncated) {
      tally.RemoveLast();
      if (!res_.entries.empty()) res_.entries.pop_back();
    }
    tally.CopyTo(res_);
    return;
  }
  // A circular file: when it wrapped, the oldest entry follows the newest one (and its "eof").
  const auto& meta = sink_.meta();
  const uint64_t area = sink_.AreaSlots();
  if (area == 0) return;
  const uint64_t start = sink_.wrapped() ? sink_.CircularPos() % area : 0;
  auto is_cut = [&](uint64_t i) { return truncated && i + meta[i].slots >= area; };
  Tally tally;
  for (uint64_t n = 0; n < area; ++n) {
    const uint64_t i = (start + n) % area;
    if (meta[i].slots == 0 || is_cut(i)) continue;
    tally.Add(meta[i]);
  }
  tally.CopyTo(res_);
  if (opt_.keep_entry_list) {
    for (uint64_t i = 0; i < area; ++i) {
      if (meta[i].slots == 0 || is_cut(i)) continue;
      res_.entries.push_back(SimulatedEntry{res_.first_entry_pos + i * kSlotSize, meta[i].kind,
                                            meta[i].slots, meta[i].ticks, meta[i].time,
                                            meta[i].id});
    }
  }
}

}  // namespace

SimulationResult SimulateRecording(const LoggerConfiguration& config,
                                   const SimulatorOptions& options,
                                   const std::filesystem::path& path) {
  SimulationResult result;
  try {
    Simulator sim(config, options, result);
    result.ok = sim.Run(path);
  } catch (const std::exception& e) {
    result.ok = false;
    result.error = StrPrintf("Simulation failed: %s", e.what());
  }
  if (!result.ok) ShowMessage(kMsgError, result.error);
  return result;
}

std::string FormatSimulationManifest(const SimulationResult& r) {
  std::string out;
  auto line = [&](const std::string& s) {
    out += s;
    out += "\r\n";
  };
  auto u = [](uint64_t v) { return static_cast<unsigned long long>(v); };
  line(StrPrintf("file_size=%llu", u(r.file_size)));
  line(StrPrintf("binary_pos=0x%08llX", u(r.binary_pos)));
  line(StrPrintf("first_entry_pos=0x%08llX", u(r.first_entry_pos)));
  line(StrPrintf(
      "eof_pos=%s",
      r.eof_pos < 0 ? "none" : StrPrintf("0x%08llX", u(static_cast<uint64_t>(r.eof_pos))).c_str()));
  line(StrPrintf("circular=%d", r.circular ? 1 : 0));
  line(StrPrintf("wrapped=%d", r.wrapped ? 1 : 0));
  line(StrPrintf("timer_frequency=%.17g", r.timer_frequency));
  line(StrPrintf("start_date=%lld", static_cast<long long>(r.start_date)));
  line(StrPrintf("start_timestamp=%u", r.start_timestamp));
  line(StrPrintf("entries_in_file=%llu", u(r.entries_in_file)));
  line(StrPrintf("entries_written=%llu", u(r.entries_written)));
  line(StrPrintf("can_frames=%llu", u(r.can_frames)));
  line(StrPrintf("time_entries=%llu", u(r.time_entries)));
  line(StrPrintf("expression_entries=%llu", u(r.expression_entries)));
  line(StrPrintf("bulk_blocks=%llu", u(r.bulk_blocks)));
  line(StrPrintf("gps_fixes=%llu", u(r.gps_fixes)));
  line(StrPrintf("dummy_blocks=%llu", u(r.dummy_blocks)));
  line(StrPrintf("pre_markers=%llu", u(r.pre_markers)));
  line(StrPrintf("tri_markers=%llu", u(r.tri_markers)));
  line(StrPrintf("other_entries=%llu", u(r.other_entries)));
  line(StrPrintf("first_time=%.3f", r.first_time));
  line(StrPrintf("last_time=%.3f", r.last_time));
  line(StrPrintf("first_ticks=%llu", u(r.first_ticks)));
  line(StrPrintf("last_ticks=%llu", u(r.last_ticks)));
  for (const auto& f : r.faults) line("fault " + f);
  for (const auto& c : r.signals) {
    line(StrPrintf("signal %s count=%llu min=%.17g max=%.17g", c.name.c_str(), u(c.count), c.min,
                   c.max));
  }
  for (const auto& c : r.expressions) {
    line(StrPrintf("expression %s count=%llu min=%.17g max=%.17g", c.name.c_str(), u(c.count),
                   c.min, c.max));
  }
  return out;
}

}  // namespace tessmar
