#pragma once
// The CAN databases a logger configuration names (DbFileBus1, DbFileBus2): found after the
// configuration was loaded and offered for loading with it.

#include <array>
#include <filesystem>
#include <functional>
#include <string>

#include "config/canlog_config.h"

namespace tessmar {

// The database file for bus 1 and 2: the name as written when it is found from the working
// folder, else a relative name found beside the configuration file (where configurations and
// their databases usually travel together); empty when no file is found.
std::array<std::string, 2> FindNamedCanDatabases(const T_CanLog_Config& cfg,
                                                 const std::filesystem::path& config_file);

// Asks "Also load CAN DATABASE FILE(S) now ?" (caption "Loaded Logger Config", batch answer Yes)
// with the files found, and on Yes loads each through load(path, bus). Loading a file found
// beside the configuration must not change the name the configuration wrote: that name and the
// modified flag are put back. True when a name was put back (the pages show it again).
bool OfferNamedCanDatabases(LoggerConfiguration& config, const std::filesystem::path& config_file,
                            const std::function<void(const std::string& path, int bus)>& load);

}  // namespace tessmar
