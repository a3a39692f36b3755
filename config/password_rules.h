#pragma once
// The rules of setting, changing and removing the password of a logger configuration and of the
// password remembered on this computer, free of any dialog.
//
// The password only decides the key of the file's line scrambling: the scrambling hides a
// protected file from casual reading, it is not encryption.

#include <functional>
#include <string>
#include <string_view>

#include "config/canlog_config.h"

namespace tessmar {

// Fixed key of the remembered password in the settings file.
inline constexpr int32_t kRememberedPasswordKey = 6827;

inline constexpr const char* kPasswordCaptionNew = "Enter new password (two times)";
inline constexpr const char* kPasswordCaptionDisable = "Enter old password to disable it";
inline constexpr const char* kPasswordCaptionLoad = "Enter password to load encrypted file";
inline constexpr const char* kPasswordCaptionTwoEntries = "Enter AND REPEAT password";
inline constexpr const char* kPasswordCaptionOneEntry = "Enter password";
inline constexpr const char* kPasswordOffMessage = "Password accepted, encryption now OFF.";

// Caption after two different entries: German for language code 49, else English.
const char* PasswordMismatchCaption(int language);

// A hint as stored: cut to 40 characters, every double quote replaced by a single quote (the file
// writes the hint inside double quotes).
std::string CleanPasswordHint(std::string_view hint);

// True when the password is the one remembered on this computer (the remember box is then
// preset).
bool IsRememberedPassword(const T_CanLog_Config& cfg, std::string_view remembered);

// Stores a new password (two equal entries were given): Password1 = entry (40 characters),
// PwdHint1 = the cleaned hint, the configuration is marked modified. A remembered old password is
// forgotten; with remember set the new one is remembered.
void SetNewPassword(LoggerConfiguration& config, std::string& remembered, std::string_view entry,
                    std::string_view hint, bool remember);

// Removes the password when entry equals Password1 exactly: reports "Password accepted,
// encryption now OFF.", empties Password1, forgets a remembered copy of it, remembers the entry
// when remember is set and marks the configuration modified. False (nothing changed) otherwise.
bool RemovePassword(LoggerConfiguration& config, std::string& remembered, std::string_view entry,
                    bool remember);

// The remembered password as the settings file keeps it: scrambled with kRememberedPasswordKey.
// Reading takes at most a password's 40 characters.
std::string RememberedPasswordFromSettings(std::string_view scrambled);
std::string RememberedPasswordForSettings(std::string_view password);

enum class ConfigLoad { kNotRead, kAccepted, kRefused };

// Loads a configuration file into the configuration being edited. Reports "Loaded logger config
// \"%s\" ." ("Loading" for a protected file) or, when the file cannot be read, "Warning: Couldn't
// load \"%s\" ." with the reason (the configuration is then unchanged). A protected file is
// accepted when its password is the remembered one, or, outside batch mode, when ask_password
// (optional) confirms it ("Password accepted, loaded encrypted file."); otherwise the
// configuration is put back as it was before the read and "Refused to load encrypted file
// \"%s\" ." is reported.
ConfigLoad LoadConfigurationFile(const std::string& name, LoggerConfiguration& config,
                                 std::string_view remembered,
                                 const std::function<bool(const T_CanLog_Config&)>& ask_password);

}  // namespace tessmar
