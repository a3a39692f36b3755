#include "convert/command_line.h"

#include <glob.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "candb/signal_table.h"
#include "common/message_output.h"
#include "common/text_readers.h"
#include "common/text_util.h"

namespace tessmar {
namespace {

bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }

void ExpandWildcard(const std::string& pattern, std::vector<std::string>& sources) {
  // A message like any other: standard output stays for a command's data, and -q silences it.
  ShowMessage(kMsgInfo, "Directory listing of *.*");
  // Only '*' and '?' are wildcards: brackets and backslashes in the name are taken as they are,
  // so that a folder like "run[1]" is not read as a character class.
  std::string escaped;
  escaped.reserve(pattern.size() * 2);
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') escaped += '\\';
    escaped += c;
  }
  glob_t found{};
  // glob() sorts the names and keeps the folder part of the pattern in front of each.
  if (glob(escaped.c_str(), 0, nullptr, &found) == 0) {
    for (std::size_t i = 0; i < found.gl_pathc; ++i) sources.emplace_back(found.gl_pathv[i]);
  }
  globfree(&found);
}

}  // namespace

bool IsSwitchArgument(std::string_view arg) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '\\')) return false;
  if (arg[1] == '/' || arg[1] == '\\') return false;  // a network path
  return arg.find_first_of("/\\.", 1) == std::string_view::npos;
}

ParsedArgument ClassifyArgument(std::string_view argument) {
  ParsedArgument p;
  p.text.assign(argument.substr(0, kMaxArgumentChars));
  const std::string& arg = p.text;

  if (IsSwitchArgument(arg)) {
    p.kind = ArgumentKind::kSwitch;
    const std::string_view body = std::string_view(arg).substr(1);
    if (EqualsNoCase(body, "firstrun")) {
      p.switch_name = "firstrun";
      return p;
    }
    if (body.size() >= 2 && IsLowerLetter(body[0]) && IsLowerLetter(body[1])) {
      p.switch_name.assign(body.substr(0, 2));
      std::size_t i = 2;
      while (i < body.size() && body[i] == ' ') ++i;
      long long value = 0;
      for (; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i) {
        if (value < (1LL << 55)) value = value * 10 + (body[i] - '0');
      }
      p.switch_value = value;
    } else {
      p.switch_name.assign(body);  // accepted and ignored
    }
    return p;
  }

  const std::size_t dot = arg.find_last_of('.');
  const std::size_t slash = arg.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return p;
  const std::string ext = LowerAscii(std::string_view(arg).substr(dot + 1));
  if (ext == "clc") {
    p.kind = ArgumentKind::kConfig;
  } else if (ext == "cld") {
    p.kind = ArgumentKind::kSources;
    if (arg.find_first_of("?*") != std::string::npos) {
      ExpandWildcard(arg, p.sources);
    } else {
      p.sources.push_back(arg);
    }
  } else if (ext.starts_with("dbc")) {
    std::filesystem::path path;
    if (ParseDbcArgument(arg, path, p.bus)) {
      p.kind = ArgumentKind::kDatabase;
      p.database = path.string();
    }
  } else if (ext.starts_with("dat") || ext.starts_with("asc") || ext == "txt" || ext == "csv" ||
             ext == "mf4") {
    // ".txt", ".csv" and ".mf4" are output names too: their extensions choose the batch output
    // format.
    p.kind = ArgumentKind::kOutput;
  } else if (ext.starts_with("cmd")) {
    p.kind = ArgumentKind::kCommandFile;
  }
  return p;
}

void ReportUnknownArgument(const ParsedArgument& argument) {
  ShowMessageF(kMsgError, "ParseCmdLine: Don't know what to do with %s .", argument.text.c_str());
}

bool ReadCommandFileLines(const std::string& name, std::vector<std::string>& lines) {
  errno = 0;
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    const int error = errno != 0 ? errno : ENOENT;
    ShowMessageF(kMsgError, "Could not open command file \"%s\" (%s). ", name.c_str(),
                 std::strerror(error));
    return false;
  }
  ShowMessageF(kMsgInfo, "Parsing command file \"%s\" ...", name.c_str());
  std::ostringstream buffer;
  buffer << in.rdbuf();
  const std::string data = buffer.str();
  // The lines follow the program's text line rules: CR, LF or another control character ends a
  // line (so files with CR-only line ends work too), and the rest of an over-long line is read
  // as the next line.
  std::size_t pos = 0;
  std::string_view line;
  while (NextTextLine(data, &pos, &line, kMaxCommandFileLineChars)) {
    if (line.empty() || line[0] == ';') continue;
    lines.emplace_back(line);
  }
  return true;
}

}  // namespace tessmar
