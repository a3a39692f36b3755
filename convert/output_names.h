#pragma once
// Output paths taken during one conversion run. Recordings of the same name from different
// folders (LOG0001.cld of two cards) would get the same output path; the later one gets a
// distinct path instead of overwriting what the earlier one wrote. An output may be several
// files (DIAdem's header NAME.dat and data NAME.asc): none of them may be one of another output.

#include <filesystem>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace tessmar {

class RunOutputNames {
 public:
  // `path` itself when no earlier output of this run has it, else "<stem>_2<extension>",
  // "<stem>_3<extension>", ... the first one not taken in this run.
  std::filesystem::path Distinct(const std::filesystem::path& path) const;
  // The same for an output of several files: `files_of` gives the files an output path makes;
  // the path is taken when one of them is.
  using FilesOf = std::function<std::vector<std::filesystem::path>(const std::filesystem::path&)>;
  std::filesystem::path Distinct(const std::filesystem::path& path, const FilesOf& files_of) const;
  // Marks output files as written.
  void Take(const std::filesystem::path& path);
  void Take(std::span<const std::filesystem::path> files);

  // The same file also when written differently ("out/./a.txt", a relative path).
  static std::string Key(const std::filesystem::path& path);

 private:
  std::set<std::string> taken_;
};

// Groups the sources of a run whose outputs may meet: a file in common (the same planned output
// of recordings of the same name, or a companion file of one output that is another's), or one
// named like a replacement ("<stem>_2<extension>", ...) of another group's output. Converting
// each group's sources in order on one thread gives every output the name a run one after the
// other gives it, and no two groups write the same file. `files[i]` are the files of the i-th
// planned output (may be empty: the output alone). Groups are in the order of their first
// source, sources ascending.
std::vector<std::vector<int>> GroupSourcesByOutput(
    std::span<const std::filesystem::path> planned,
    std::span<const std::vector<std::filesystem::path>> files = {});

}  // namespace tessmar
