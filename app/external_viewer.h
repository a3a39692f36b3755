#pragma once
// Starting the external data viewer with a converted output (the converter page's "launch
// viewer" choice). The conversion run words the messages; the program is started here.

#include <filesystem>
#include <string>

namespace tessmar {

// Starts the viewer program with the file as its argument (not waiting for it). False when it
// could not be started.
bool StartExternalViewer(const std::string& program, const std::filesystem::path& file);

}  // namespace tessmar
