#pragma once
// Shared by the fuzz targets. The readers under test take file names, so every input becomes a
// file in a private temporary folder (on tmpfs when there is one); messages are dropped and
// questions take their batch answers, as in an unattended run.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tessmar::fuzz {

// Silences the message output (unless TESSMAR_FUZZ_MESSAGES is set) and sets batch mode; cheap to
// call on every input.
void Quiet();

// A file of the private folder (the folder is created on first use and removed at exit).
std::filesystem::path WorkFile(const std::string& name);

// Writes the bytes to WorkFile(name) and returns its path.
std::filesystem::path WriteWorkFile(const std::string& name, const uint8_t* data, std::size_t size);

// The whole content of a file ("" when it cannot be read).
std::string ReadWholeFile(const std::filesystem::path& path);

// Stops the run with a message: an invariant of the code under test does not hold.
[[noreturn]] void Fail(const char* what);

// Fails with the first line where the two texts differ unless they are equal.
void ExpectSameText(const char* what, const std::string& expected, const std::string& actual);

}  // namespace tessmar::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
