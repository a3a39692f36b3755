#pragma once
// Reading and writing logger configuration files (.clc): INI-like text, CR LF line ends, every
// line from "PwdHint1=" on scrambled when the configuration has a password.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "config/canlog_config.h"
#include "config/clc_parser.h"

namespace tessmar {

// The lines of the file as written, unscrambled, without line ends.
std::vector<std::string> ClcFileLines(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs);

// Index of the first line that is scrambled in a protected file (the "PwdHint1=" line).
inline constexpr std::size_t kFirstScrambledClcLine = 2;

// The key a file written from cfg is scrambled with: from Password1 as written (control
// characters as blanks) when its first character is above the blank, else 0.
int32_t ClcWriteKey(const T_CanLog_Config& cfg);

// The whole file text as written (scrambled when protected), CR LF line ends.
std::string ClcFileText(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs);
// The same text unscrambled (what a protected file holds after unscrambling).
std::string ClcPlainText(const T_CanLog_Config& cfg, const T_CanLog_SigTab& sigs);

// Writes the file (replacing an existing one). True only if every line was written and the file
// was closed; the file is completed even after a failed line. On failure *error (optional) names
// the file and the reason. Clears the modified flag of the LoggerConfiguration overload.
[[nodiscard]] bool WriteClcFile(const std::filesystem::path& path, const T_CanLog_Config& cfg,
                                const T_CanLog_SigTab& sigs, std::string* error = nullptr);
[[nodiscard]] bool WriteClcFile(const std::filesystem::path& path, LoggerConfiguration& config,
                                std::string* error = nullptr);

// Reads a file into cfg and sigs line by line (plain or scrambled). Only the slots and keys the
// file names change. The first lines that are not understood are reported as the error
// "Unknown: \"%s\" ." with the unscrambled line (five; the rest are counted in one message), and
// reading goes on. A value that cannot be used as given (clc_value_check.h) is kept as read and
// reported as a warning with the line's number. False (configuration unchanged) when the file
// cannot be opened or read, or when it is no logger configuration (more than five lines not
// understood and no section line); *error (optional) then names the file and the reason.
// *unknown_lines (optional) receives the number of lines not understood. The
// LoggerConfiguration overload clears the modified flag after a successful read.
[[nodiscard]] bool ReadClcFile(const std::filesystem::path& path, T_CanLog_Config& cfg,
                               T_CanLog_SigTab& sigs, std::string* error = nullptr,
                               int* unknown_lines = nullptr);
[[nodiscard]] bool ReadClcFile(const std::filesystem::path& path, LoggerConfiguration& config,
                               std::string* error = nullptr, int* unknown_lines = nullptr);

// Reads configuration file text held in memory by the same line rules; false (reported as an
// error message) only when the text is no logger configuration.
[[nodiscard]] bool ReadClcText(std::string_view text, T_CanLog_Config& cfg, T_CanLog_SigTab& sigs,
                               int* unknown_lines = nullptr);
[[nodiscard]] bool ReadClcText(std::string_view text, LoggerConfiguration& config,
                               int* unknown_lines = nullptr);

}  // namespace tessmar
