#pragma once
// Output paths taken during one conversion run. Recordings of the same name from different
// folders (LOG0001.cld of two cards) would get the same output path; the later one gets a
// distinct path instead of overwriting what the earlier one wrote.

#include <filesystem>
#include <set>
#include <string>

namespace tessmar {

class RunOutputNames {
 public:
  // `path` itself when no earlier output of this run has it, else "<stem>_2<extension>",
  // "<stem>_3<extension>", ... the first one not taken in this run.
  std::filesystem::path Distinct(const std::filesystem::path& path) const;
  // Marks an output path as written.
  void Take(const std::filesystem::path& path);

 private:
  // The same file also when written differently ("out/./a.txt", a relative path).
  static std::string Key(const std::filesystem::path& path);
  std::set<std::string> taken_;
};

}  // namespace tessmar
