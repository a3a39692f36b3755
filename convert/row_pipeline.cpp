#include "convert/row_pipeline.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

#include "common/message_output.h"

namespace tessmar {

namespace {

// Numbers are compared bit for bit: a NaN equals itself, -0 differs from 0.
uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }

template <class T>
unsigned char* Put(unsigned char* out, const T& value) {
  std::memcpy(out, &value, sizeof value);
  return out + sizeof value;
}

template <class T>
const unsigned char* Get(const unsigned char* in, T* value) {
  std::memcpy(value, in, sizeof *value);
  return in + sizeof *value;
}

}  // namespace

RowPipeline::RowPipeline() : mirror_(kMaxColumns), queued_(kMaxColumns) {
  for (Batch& batch : batches_) {
    batch.rows.reserve(kBatchRows);
  }
}

RowPipeline::~RowPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropping_ = true;
    closing_ = true;
  }
  work_.notify_one();
  Join();
}

void RowPipeline::Join() {
  if (thread_.joinable()) thread_.join();
}

void RowPipeline::Begin(Writer* writer, std::span<const ChannelValue> live) {
  Join();  // End() joined already; this only matters after a pass that never ended
  writer_ = writer;
  live_ = live.data();
  columns_ = std::min(live.size(), mirror_.size());
  std::copy_n(live.begin(), columns_, mirror_.begin());
  std::copy_n(live.begin(), columns_, queued_.begin());
  for (Batch& batch : batches_) batch.Clear();
  filling_ = 0;
  full_head_ = 0;
  full_count_ = 0;
  free_count_ = 0;
  for (std::size_t i = 1; i < kBatches; ++i) free_[free_count_++] = i;
  closing_ = false;
  dropping_ = false;
  stopped_ = false;
  kept_messages_.clear();
  failed_.store(false);
  rows_written_ = 0;
  pretrigger_ = false;
  started_ = false;
  inline_ = false;
  touched_.fill(0);
  touched_count_ = 0;
  all_touched_ = true;
}

bool RowPipeline::Push(const WriterRow& row) {
  if (failed_.load(std::memory_order_relaxed)) return false;
  if (!started_) {
    started_ = true;
    try {
      thread_ = std::thread(&RowPipeline::Consume, this);
    } catch (const std::system_error&) {
      inline_ = true;  // out of threads: the rows are written all the same
    }
  }
  Batch& batch = batches_[filling_];
  if (batch.changes.size() < batch.used + columns_ * kMaxChangeBytes) {
    batch.changes.resize(batch.used + columns_ * kMaxChangeBytes);
  }
  unsigned char* out = batch.changes.data() + batch.used;
  const std::size_t count = all_touched_ ? columns_ : touched_count_;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t c = all_touched_ ? i : touched_list_[i];
    touched_[c] = 0;
    if (c >= columns_) continue;
    const ChannelValue& v = live_[c];
    ChannelValue& q = queued_[c];
    // One test for the numbers and flags, the text only when there is one.
    const uint64_t diff = (Bits(v.scaled) ^ Bits(q.scaled)) |
                          (Bits(v.raw_float) ^ Bits(q.raw_float)) |
                          (static_cast<uint64_t>(v.raw) ^ static_cast<uint64_t>(q.raw)) |
                          static_cast<uint64_t>((v.valid != q.valid) | (v.is_float != q.is_float) |
                                                (v.value_type != q.value_type));
    if (diff == 0 && v.text.size() == q.text.size() && (v.text.empty() || v.text == q.text)) {
      continue;
    }
    ChangeHead head;
    head.value_type = v.value_type;
    head.column = static_cast<uint16_t>(c);
    const bool own_raw_float = Bits(v.raw_float) != Bits(static_cast<double>(v.raw));
    const bool own_scaled = Bits(v.scaled) != Bits(v.raw_float);
    head.flags = static_cast<uint8_t>(
        (v.valid ? kValid : 0) | (v.is_float ? kIsFloat : 0) | (own_raw_float ? kOwnRawFloat : 0) |
        (own_scaled ? kOwnScaled : 0) | (v.text.empty() ? 0 : kHasText));
    out = Put(out, head);
    out = Put(out, v.raw);
    if (own_raw_float) out = Put(out, v.raw_float);
    if (own_scaled) out = Put(out, v.scaled);
    if (!v.text.empty()) {
      out = Put(out, static_cast<uint32_t>(v.text.size()));
      batch.texts.append(v.text);
    }
    q.valid = v.valid;
    q.value_type = v.value_type;
    q.is_float = v.is_float;
    q.raw = v.raw;
    q.raw_float = v.raw_float;
    q.scaled = v.scaled;
    q.text = v.text;
  }
  batch.used = static_cast<std::size_t>(out - batch.changes.data());
  if (all_touched_) touched_.fill(0);
  touched_count_ = 0;
  all_touched_ = false;
  batch.rows.push_back({row, batch.used});
  if (batch.rows.size() >= kBatchRows) HandOver();
  return !failed_.load(std::memory_order_relaxed);
}

void RowPipeline::HandOver() {
  if (inline_) {
    if (!WriteBatch(batches_[filling_])) failed_.store(true);
    batches_[filling_].Clear();
    return;
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!stopped_) {
      full_[(full_head_ + full_count_) % kBatches] = filling_;
      ++full_count_;
      work_.notify_one();
      // A consumer that stops hands every batch back, so one is free then.
      space_.wait(lock, [this] { return free_count_ > 0 || stopped_; });
      if (free_count_ > 0) filling_ = free_[--free_count_];
    }
  }
  batches_[filling_].Clear();
  ShowKeptMessages();
}

RowPipeline::Result RowPipeline::End() {
  Result result;
  if (!started_) return result;  // no row was queued
  if (inline_) {
    if (!failed_.load() && !WriteBatch(batches_[filling_])) failed_.store(true);
  } else {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!stopped_ && !batches_[filling_].rows.empty()) {
        full_[(full_head_ + full_count_) % kBatches] = filling_;
        ++full_count_;
      }
      closing_ = true;
    }
    work_.notify_one();
    Join();
    ShowKeptMessages();
  }
  result.rows_written = rows_written_;
  result.failed = failed_.load();
  return result;
}

void RowPipeline::ShowKeptMessages() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    showing_.swap(kept_messages_);
  }
  for (const auto& [severity, text] : showing_) ShowMessage(severity, text);
  showing_.clear();
}

void RowPipeline::Consume() {
  ThreadMessageHandler sink([this](int severity, std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_messages_.emplace_back(severity, std::string(text));
  });
  for (;;) {
    std::size_t index = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return full_count_ > 0 || closing_; });
      if (dropping_ || full_count_ == 0) break;
      index = full_[full_head_];
      full_head_ = (full_head_ + 1) % kBatches;
      --full_count_;
    }
    const bool written = WriteBatch(batches_[index]);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      free_[free_count_++] = index;
      if (!written) {
        // Nothing more is written: every queued batch goes back to the producer.
        failed_.store(true);
        while (full_count_ > 0) {
          free_[free_count_++] = full_[full_head_];
          full_head_ = (full_head_ + 1) % kBatches;
          --full_count_;
        }
        stopped_ = true;
      }
    }
    space_.notify_one();
    if (!written) return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  space_.notify_one();
}

bool RowPipeline::WriteBatch(Batch& batch) {
  const unsigned char* in = batch.changes.data();
  std::size_t text_at = 0;
  for (QueuedRow& queued : batch.rows) {
    const unsigned char* const end = batch.changes.data() + queued.changes_end;
    while (in < end) {
      ChangeHead head;
      in = Get(in, &head);
      ChannelValue& m = mirror_[head.column];
      m.valid = (head.flags & kValid) != 0;
      m.value_type = head.value_type;
      m.is_float = (head.flags & kIsFloat) != 0;
      in = Get(in, &m.raw);
      m.raw_float = static_cast<double>(m.raw);
      if (head.flags & kOwnRawFloat) in = Get(in, &m.raw_float);
      m.scaled = m.raw_float;
      if (head.flags & kOwnScaled) in = Get(in, &m.scaled);
      if (head.flags & kHasText) {
        uint32_t length = 0;
        in = Get(in, &length);
        m.text.assign(batch.texts, text_at, length);
        text_at += length;
      } else {
        m.text.clear();
      }
    }
    pretrigger_ = pretrigger_ || queued.row.pretrigger;
    queued.row.pretrigger = pretrigger_;
    const int r = writer_->WriteRow(queued.row);
    if (r == kRowFailed) return false;
    if (r == kRowWritten) {
      ++rows_written_;
      pretrigger_ = false;
    }
  }
  return true;
}

}  // namespace tessmar
