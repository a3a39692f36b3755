#pragma once
// The window-free rules of the single running instance: where its lock and local socket live,
// which files a second start hands to the running instance, and the message that carries them.
// Standard library and POSIX only.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessmar {

// The folder of the lock and the socket: $XDG_RUNTIME_DIR (xdg_runtime_dir) when it is an
// absolute path to a folder owned by `uid` that nobody else may enter; else the folder
// "tessmar-<uid>" in the temporary folder (tmpdir when it is an absolute path, else "/tmp"). That
// folder is created for the user alone; an existing one must be a folder (not a link) owned by
// `uid`, and any access of others is taken away. Returns an empty path with the reason in *error
// when neither folder can be used.
std::filesystem::path UserRuntimeFolder(const char* xdg_runtime_dir, const char* tmpdir,
                                        unsigned uid, std::string* error);

// Files a second start hands to the running instance: a logger configuration to open and
// recordings for the converter's list, each as an absolute path.
struct HandedFiles {
  std::vector<std::string> configs;
  std::vector<std::string> recordings;
  bool empty() const { return configs.empty() && recordings.empty(); }
};

// The files among the arguments of a start (classified as on the command line: ".clc" and ".cld",
// wildcards expanded); relative names are taken from `cwd`. Other arguments are left out.
HandedFiles FilesToHandOver(const std::vector<std::string>& arguments,
                            const std::filesystem::path& cwd);

// The message that carries handed files: "TESSMAR-OPEN", a zero byte, then one record per file:
// 'C' (configuration) or 'D' (recording), the path, a zero byte.
std::string EncodeHandedFiles(const HandedFiles& files);
// Reads such a message; nullopt when it is not one (wrong start, a record of another kind, an
// empty or relative path, a path without its zero byte, more than kMaxHandedFiles records).
std::optional<HandedFiles> DecodeHandedFiles(std::string_view message);
inline constexpr std::size_t kMaxHandedFiles = 1000;

}  // namespace tessmar
