#pragma once
// Counters and switches of the messages that reading a recording produces.
//
// Several problem messages are limited (once per source file, at most 5 per file, at most 10 per
// conversion run). The conversion driver owns one DecodeMessages for a whole run, calls
// ResetForRun() at the start of a run and ResetForFile() before each source file, and hands it to
// the reader, the running clock, the value decoder and the pre-scan.

namespace tessmar {

struct DecodeMessages {
  // "Verbose display": the verbose listings and repair notes are shown only when set.
  bool verbose = false;
  // Errors counted while decoding ("error count + 1" of the decoding rules). The driver adds them
  // to its own error counter or reads this one.
  int error_count = 0;

  // ---- per source file ----
  bool dummy_block_reported = false;      // "Skipped an 'all-zero' dummy block"
  bool suspicious_date_reported = false;  // "Suspicious date"
  bool truncated_entry_reported = false;  // an entry cut by the end of the file
  int large_difference_reported = 0;      // both "Large timestamp difference" problems, max 5
  int time_step_back_reported = 0;        // "Absolute time steps back", max 5

  // ---- per conversion run ----
  int invalid_date_reported = 0;  // "Invalid date in "@tim"-entry", max 10

  static constexpr int kMaxLargeDifferencePerFile = 5;
  static constexpr int kMaxTimeStepBackPerFile = 5;
  static constexpr int kMaxInvalidDatePerRun = 10;

  void ResetForFile() {
    dummy_block_reported = false;
    suspicious_date_reported = false;
    truncated_entry_reported = false;
    large_difference_reported = 0;
    time_step_back_reported = 0;
  }
  void ResetForRun() {
    ResetForFile();
    invalid_date_reported = 0;
    error_count = 0;
  }
};

}  // namespace tessmar
