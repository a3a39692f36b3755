#pragma once
// Signals rows formatted and written on a second thread.
//
// The thread that reads the recording (the producer) queues every due row together with the
// channel values that changed since the row queued before it. A second thread (the consumer)
// applies those changes to its own copy of the channel values, the mirror, which is what the
// writer reads (WriterSetup::channels points to it), and calls the writer. Rows travel in
// batches through a bounded queue of reused buffers: in the steady state nothing is allocated per
// row, and the producer waits when the writer falls behind. The writer sees exactly the values,
// rows and pre-trigger flags it would see when the producer called it itself, so the output is
// the same byte for byte.
//
// The message output is not thread-safe: what the writer shows while writing rows is kept by the
// consumer and shown by the producer, in order, at the next batch it hands over and at the latest
// in End().

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "logfile/channel_value.h"
#include "writers/writer.h"

namespace tessmar {

class RowPipeline {
 public:
  RowPipeline();
  // Stops the consumer without writing what is still queued, and joins it.
  ~RowPipeline();
  RowPipeline(const RowPipeline&) = delete;
  RowPipeline& operator=(const RowPipeline&) = delete;

  // The channel values the writer reads (kMaxColumns records, stable for the object's life).
  const ChannelValue* mirror() const { return mirror_.data(); }

  // Starts a pass: `writer` writes the rows; `live` are the channel values the producer keeps up
  // to date (at most kMaxColumns). The mirror and the record of the values queued last start as
  // copies of them. The consumer thread starts with the first row.
  void Begin(Writer* writer, std::span<const ChannelValue> live);

  // The producer marks the columns it may have written since the last row: Push looks only at
  // those (the values it finds unchanged are not sent). Begin marks every column.
  void Touch(std::span<const int> columns) {
    for (const int c : columns) Touch(c);
  }
  void Touch(int column) {
    const auto c = static_cast<std::size_t>(column);
    if (c >= touched_.size()) return;  // not a column
    touched_list_[touched_count_] = static_cast<uint16_t>(c);
    touched_count_ += touched_[c] ^ 1u;
    touched_[c] = 1;
  }
  void TouchAll() { all_touched_ = true; }

  // Queues a row with the current live values of the marked columns. row.pretrigger tells that a
  // "pre" marker was read since the row queued before (for the first row: since Begin); the
  // consumer keeps it set until a row is written, as the writer expects. False once a row failed to
  // write: nothing more is queued, and the producer should stop.
  [[nodiscard]] bool Push(const WriterRow& row);

  // The end of the pass: the queued rows are written, the consumer is joined and the messages it
  // kept are shown.
  struct Result {
    int64_t rows_written = 0;  // rows the writer counted (kRowWritten)
    bool failed = false;       // a row failed to write; the rows after it were not written
  };
  Result End();

  // Rows per batch and batches in the queue (the producer fills one while the consumer writes
  // the others).
  static constexpr std::size_t kBatchRows = 256;
  static constexpr std::size_t kBatches = 4;

 private:
  // A batch holds its rows and, for each row, the columns that changed before it as a byte
  // stream: per column a ChangeHead, the raw value, the raw float unless it is the raw value
  // converted, the scaled value unless it equals the raw float, and the text's length when
  // there is a text (the text itself goes to Batch::texts). Most values thus take 16 or 24 bytes.
  struct ChangeHead {
    int32_t value_type = 0;
    uint16_t column = 0;
    uint8_t flags = 0;  // kValid, kIsFloat, kOwnRawFloat, kOwnScaled, kHasText
    uint8_t unused = 0;
  };
  static constexpr uint8_t kValid = 1, kIsFloat = 2, kOwnRawFloat = 4, kOwnScaled = 8,
                           kHasText = 16;
  // The most bytes one column takes in the stream.
  static constexpr std::size_t kMaxChangeBytes = sizeof(ChangeHead) + 3 * 8 + 4;
  struct QueuedRow {
    WriterRow row;
    std::size_t changes_end = 0;  // the row's changes end here in Batch::changes
  };
  struct Batch {
    std::vector<QueuedRow> rows;
    std::vector<unsigned char> changes;  // grown, never shrunk: `used` bytes are filled
    std::size_t used = 0;
    std::string texts;
    void Clear() {
      rows.clear();
      used = 0;
      texts.clear();
    }
  };

  void HandOver();  // queues the batch being filled and takes a free one
  void Consume();   // the consumer thread
  // Writes one batch's rows; false when a row failed.
  bool WriteBatch(Batch& batch);
  void ShowKeptMessages();
  void Join();

  std::vector<ChannelValue> mirror_;  // the consumer's values
  std::vector<ChannelValue> queued_;  // the producer's record of the values queued last
  const ChannelValue* live_ = nullptr;
  std::size_t columns_ = 0;
  Writer* writer_ = nullptr;
  // The columns marked since the last row: a flag per column and their list.
  std::array<uint8_t, kMaxColumns> touched_{};
  std::array<uint16_t, kMaxColumns + 1> touched_list_{};
  std::size_t touched_count_ = 0;
  bool all_touched_ = true;
  bool started_ = false;  // a row was queued in this pass
  bool inline_ = false;   // no thread could be started: the producer writes the batches itself

  std::array<Batch, kBatches> batches_;
  std::size_t filling_ = 0;  // the batch the producer fills (owned by it)

  // Shared between the threads, guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable work_;              // a full batch, or the end
  std::condition_variable space_;             // a free batch, or the consumer stopped
  std::array<std::size_t, kBatches> full_{};  // ring of full batches, in queue order
  std::size_t full_head_ = 0;
  std::size_t full_count_ = 0;
  std::array<std::size_t, kBatches> free_{};  // stack of free batches
  std::size_t free_count_ = 0;
  bool closing_ = false;   // no more batches follow
  bool dropping_ = false;  // stop without writing what is queued
  bool stopped_ = false;   // the consumer has ended
  std::vector<std::pair<int, std::string>> kept_messages_;

  std::atomic<bool> failed_{false};
  // The consumer's own state: read by the producer only after the join.
  int64_t rows_written_ = 0;
  bool pretrigger_ = false;                           // a "pre" marker since the last written row
  std::vector<std::pair<int, std::string>> showing_;  // producer: messages being shown
  std::thread thread_;
};

}  // namespace tessmar
