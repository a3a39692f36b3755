#pragma once
// Registration of the program with a freedesktop.org desktop (Linux): a desktop entry that
// starts the program with a file, and one shared-mime-info package per file type, all under the
// user's own data folder ($XDG_DATA_HOME, else ~/.local/share). Nothing else is touched. Every
// file is written to a temporary file beside it and renamed into place, so a failure never
// leaves a half-written file. Standard library only.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tessmar {

// One file type the program opens.
struct FileTypeAssociation {
  const char* extension;    // ".clc"
  const char* mime_type;    // "application/x-tessmar-clc"
  const char* type_name;    // "CanLoggerConfig"
  const char* description;  // "Can-Logger Configuration file"
};

inline constexpr FileTypeAssociation kClcAssociation = {
    ".clc", "application/x-tessmar-clc", "CanLoggerConfig", "Can-Logger Configuration file"};
inline constexpr FileTypeAssociation kCldAssociation = {".cld", "application/x-tessmar-cld",
                                                        "CanLoggerData", "Can-Logger Data file"};

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share; empty when neither is
// known.
std::filesystem::path UserDataHome();

// Where the files go below the data folder.
std::filesystem::path DesktopEntryPath(const std::filesystem::path& data_home);
std::filesystem::path MimePackagePath(const std::filesystem::path& data_home,
                                      const FileTypeAssociation& type);

// The text of a shared-mime-info package for one type.
std::string MimePackageText(const FileTypeAssociation& type);
// The text of the desktop entry that starts program_path with one file, for the given MIME types.
std::string DesktopEntryText(const std::string& program_path,
                             const std::vector<std::string>& mime_types);
// The program path as the quoted first word of a desktop entry's Exec key.
std::string DesktopExecQuoted(std::string_view program_path);

// Writes text to path through a temporary file in the same folder and a rename; creates missing
// folders. False with the reason in *error; then the old file (if any) is unchanged and no
// temporary file is left.
bool WriteFileReplacing(const std::filesystem::path& path, std::string_view text,
                        std::string* error);

// Writes the MIME package of a type. False with the reason in *error.
bool RegisterMimeType(const std::filesystem::path& data_home, const FileTypeAssociation& type,
                      std::string* error);
// Writes the desktop entry for program_path, naming every type of kClcAssociation and
// kCldAssociation whose MIME package is present under data_home. False with the reason.
bool WriteDesktopEntry(const std::filesystem::path& data_home, const std::string& program_path,
                       std::string* error);

}  // namespace tessmar
