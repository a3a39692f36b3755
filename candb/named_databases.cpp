#include "candb/named_databases.h"

#include "common/message_output.h"

namespace tessmar {

std::array<std::string, 2> FindNamedCanDatabases(const T_CanLog_Config& cfg,
                                                 const std::filesystem::path& config_file) {
  std::array<std::string, 2> files = {std::string(TextOf(cfg.DbFileBus1)),
                                      std::string(TextOf(cfg.DbFileBus2))};
  const std::filesystem::path cfg_dir = config_file.parent_path();
  for (std::string& f : files) {
    std::error_code ec;
    if (f.empty()) continue;
    if (!std::filesystem::path(f).is_absolute() && !std::filesystem::exists(f, ec)) {
      const std::filesystem::path beside = cfg_dir / f;
      if (std::filesystem::is_regular_file(beside, ec)) f = beside.string();
    }
    if (!std::filesystem::is_regular_file(f, ec)) f.clear();
  }
  return files;
}

bool OfferNamedCanDatabases(LoggerConfiguration& config, const std::filesystem::path& config_file,
                            const std::function<void(const std::string& path, int bus)>& load) {
  const std::array<std::string, 2> files = FindNamedCanDatabases(config.cfg, config_file);
  if (files[0].empty() && files[1].empty()) return false;
  std::string text =
      Tr("The loaded LOGGER CONFIGURATION FILE contains\r\nthe name(s) of CAN DATABASE FILES which "
         "were\r\nused to define some SIGNALS in this logger config:");
  for (const std::string& f : files) {
    if (!f.empty()) text += StrPrintf("\r\n\r\n  \"%s\"", f.c_str());
  }
  text += "\r\n\n";
  text += Tr("Also load CAN DATABASE FILE(S) now ?");
  Question q;
  q.caption = "Loaded Logger Config";
  q.text = text;
  q.buttons = Buttons::kYesNoCancel;
  q.batch_answer = Answer::kYes;
  if (Ask(q) != Answer::kYes) return false;
  bool put_back = false;
  for (int bus = 0; bus < 2; ++bus) {
    const std::string& file = files[static_cast<std::size_t>(bus)];
    if (file.empty()) continue;
    char(&field)[kMaxDbPathChars + 1] = bus == 0 ? config.cfg.DbFileBus1 : config.cfg.DbFileBus2;
    const std::string written(TextOf(field));
    const bool modified = config.modified;
    load(file, bus + 1);
    if (file != written) {
      SetText(field, written);
      config.modified = modified;
      put_back = true;
    }
  }
  return put_back;
}

}  // namespace tessmar
