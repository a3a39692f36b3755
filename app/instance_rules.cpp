#include "app/instance_rules.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "convert/command_line.h"

namespace tessmar {
namespace {

constexpr std::string_view kHandoffMagic{"TESSMAR-OPEN\0", 13};

// True when path is a real folder (not a link) owned by uid; *mode gets its access bits.
bool OwnFolder(const std::string& path, unsigned uid, mode_t* mode) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid) return false;
  *mode = st.st_mode & 07777;
  return true;
}

}  // namespace

std::filesystem::path UserRuntimeFolder(const char* xdg_runtime_dir, const char* tmpdir,
                                        unsigned uid, std::string* error) {
  mode_t mode = 0;
  if (xdg_runtime_dir != nullptr && xdg_runtime_dir[0] == '/' &&
      OwnFolder(xdg_runtime_dir, uid, &mode) && (mode & 077) == 0) {
    return xdg_runtime_dir;
  }
  const std::filesystem::path base = tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
  const std::filesystem::path folder = base / ("tessmar-" + std::to_string(uid));
  const std::string path = folder.string();
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = "cannot create \"" + path + "\": " + std::strerror(errno);
    return {};
  }
  // The folder may have been there before: another user's, or a link to elsewhere, would let
  // that user take the lock or listen on the socket.
  if (!OwnFolder(path, uid, &mode)) {
    if (error) *error = "\"" + path + "\" is not a folder of this user";
    return {};
  }
  if ((mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
    if (error) *error = "cannot protect \"" + path + "\": " + std::strerror(errno);
    return {};
  }
  return folder;
}

HandedFiles FilesToHandOver(const std::vector<std::string>& arguments,
                            const std::filesystem::path& cwd) {
  HandedFiles files;
  const auto absolute = [&cwd](const std::string& name) {
    const std::filesystem::path p(name);
    return (p.is_absolute() ? p : cwd / p).lexically_normal().string();
  };
  for (const std::string& argument : arguments) {
    const ParsedArgument p = ClassifyArgument(argument);
    if (p.kind == ArgumentKind::kConfig) {
      files.configs.push_back(absolute(p.text));
    } else if (p.kind == ArgumentKind::kSources) {
      for (const std::string& source : p.sources) files.recordings.push_back(absolute(source));
    }
  }
  return files;
}

std::string EncodeHandedFiles(const HandedFiles& files) {
  std::string message(kHandoffMagic);
  for (const auto& [kind, list] : {std::pair{'C', &files.configs}, {'D', &files.recordings}}) {
    for (const std::string& path : *list) {
      message += kind;
      message += path;
      message += '\0';
    }
  }
  return message;
}

std::optional<HandedFiles> DecodeHandedFiles(std::string_view message) {
  if (!message.starts_with(kHandoffMagic)) return std::nullopt;
  message.remove_prefix(kHandoffMagic.size());
  HandedFiles files;
  std::size_t count = 0;
  while (!message.empty()) {
    const std::size_t end = message.find('\0');
    if (end == std::string_view::npos || end == 0 || ++count > kMaxHandedFiles) {
      return std::nullopt;
    }
    const char kind = message[0];
    const std::string_view path = message.substr(1, end - 1);
    if (path.empty() || path[0] != '/') return std::nullopt;
    if (kind == 'C') {
      files.configs.emplace_back(path);
    } else if (kind == 'D') {
      files.recordings.emplace_back(path);
    } else {
      return std::nullopt;
    }
    message.remove_prefix(end + 1);
  }
  return files;
}

}  // namespace tessmar
