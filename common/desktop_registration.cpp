#include "common/desktop_registration.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace tessmar {

namespace fs = std::filesystem;

fs::path UserDataHome() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') return fs::path(xdg);
  if (const char* home = std::getenv("HOME"); home && home[0] != '\0') {
    return fs::path(home) / ".local" / "share";
  }
  return {};
}

fs::path DesktopEntryPath(const fs::path& data_home) {
  return data_home / "applications" / "tessmar.desktop";
}

fs::path MimePackagePath(const fs::path& data_home, const FileTypeAssociation& type) {
  return data_home / "mime" / "packages" / ("tessmar-" + std::string(type.extension + 1) + ".xml");
}

std::string MimePackageText(const FileTypeAssociation& type) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  text += "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  text += "  <mime-type type=\"" + std::string(type.mime_type) + "\">\n";
  text += "    <comment>" + std::string(type.description) + "</comment>\n";
  text += "    <glob pattern=\"*" + std::string(type.extension) + "\"/>\n";
  text += "  </mime-type>\n";
  text += "</mime-info>\n";
  return text;
}

std::string DesktopExecQuoted(std::string_view program_path) {
  // Inside the quotes of an Exec argument '"', '`', '$' and '\' take a backslash; the key's
  // value is a string, which doubles every backslash again; '%' would start a field code.
  std::string quoted = "\"";
  for (const char c : program_path) {
    switch (c) {
      case '"':
        quoted += "\\\\\"";
        break;
      case '`':
        quoted += "\\\\`";
        break;
      case '$':
        quoted += "\\\\$";
        break;
      case '\\':
        quoted += "\\\\\\\\";
        break;
      case '%':
        quoted += "%%";
        break;
      case '\n':
      case '\r':
      case '\t':
        quoted += ' ';
        break;
      default:
        quoted += c;
        break;
    }
  }
  quoted += '"';
  return quoted;
}

std::string DesktopEntryText(const std::string& program_path,
                             const std::vector<std::string>& mime_types) {
  std::string text = "[Desktop Entry]\n";
  text += "Type=Application\n";
  text += "Version=1.0\n";
  text += "Name=Tessmar\n";
  text += "GenericName=CAN Logger Configuration Tool\n";
  text += "GenericName[de]=CAN-Logger-Konfiguration\n";
  text += "Comment=CAN Logger Configuration Tool / File Conversion Utility\n";
  text += "Comment[de]=CAN-Logger-Konfiguration / Dateikonverter\n";
  text += "Exec=" + DesktopExecQuoted(program_path) + " %f\n";
  text += "Terminal=false\n";
  text += "Categories=Development;Electronics;\n";
  text += "MimeType=";
  for (const std::string& type : mime_types) text += type + ";";
  text += "\n";
  return text;
}

bool WriteFileReplacing(const fs::path& path, std::string_view text, std::string* error) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) {
    if (error) *error = "cannot create \"" + path.parent_path().string() + "\": " + ec.message();
    return false;
  }
  const fs::path temp = path.string() + ".tmp" + std::to_string(::getpid());
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) {
    if (error) *error = "cannot write \"" + temp.string() + "\": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fflush(f) == 0 && ok;
  ok = ::fsync(::fileno(f)) == 0 && ok;
  const int write_errno = errno;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    if (error) *error = "cannot write \"" + temp.string() + "\": " + std::strerror(write_errno);
    fs::remove(temp, ec);
    return false;
  }
  fs::rename(temp, path, ec);
  if (ec) {
    if (error) *error = "cannot replace \"" + path.string() + "\": " + ec.message();
    fs::remove(temp, ec);
    return false;
  }
  return true;
}

bool RegisterMimeType(const fs::path& data_home, const FileTypeAssociation& type,
                      std::string* error) {
  return WriteFileReplacing(MimePackagePath(data_home, type), MimePackageText(type), error);
}

bool WriteDesktopEntry(const fs::path& data_home, const std::string& program_path,
                       std::string* error) {
  std::vector<std::string> types;
  for (const FileTypeAssociation* type : {&kClcAssociation, &kCldAssociation}) {
    std::error_code ec;
    if (fs::is_regular_file(MimePackagePath(data_home, *type), ec))
      types.push_back(type->mime_type);
  }
  return WriteFileReplacing(DesktopEntryPath(data_home), DesktopEntryText(program_path, types),
                            error);
}

}  // namespace tessmar
