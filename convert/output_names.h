#pragma once
// Output paths taken during one conversion run. Recordings of the same name from different
// folders (LOG0001.cld of two cards) would get the same output path; the later one gets a
// distinct path instead of overwriting what the earlier one wrote.

#include <filesystem>
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
  // Marks an output path as written.
  void Take(const std::filesystem::path& path);

  // The same file also when written differently ("out/./a.txt", a relative path).
  static std::string Key(const std::filesystem::path& path);

 private:
  std::set<std::string> taken_;
};

// Groups the sources of a run whose outputs may meet: the same planned output (recordings of
// the same name), or one named like a replacement ("<stem>_2<extension>", ...) of another
// group's output. Converting each group's sources in order on one thread gives every output the
// name a run one after the other gives it, and no two groups write the same file. Groups are in
// the order of their first source, sources ascending.
std::vector<std::vector<int>> GroupSourcesByOutput(std::span<const std::filesystem::path> planned);

}  // namespace tessmar
