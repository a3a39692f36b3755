#include "convert/output_names.h"

#include <algorithm>
#include <map>
#include <numeric>
#include <system_error>

namespace tessmar {

std::string RunOutputNames::Key(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path full = std::filesystem::weakly_canonical(path, ec);
  if (ec) full = std::filesystem::absolute(path, ec).lexically_normal();
  return full.string();
}

std::filesystem::path RunOutputNames::Distinct(const std::filesystem::path& path) const {
  return Distinct(path, [](const std::filesystem::path& p) { return std::vector{p}; });
}

std::filesystem::path RunOutputNames::Distinct(const std::filesystem::path& path,
                                               const FilesOf& files_of) const {
  auto taken = [&](const std::filesystem::path& candidate) {
    for (const std::filesystem::path& file : files_of(candidate)) {
      if (taken_.contains(Key(file))) return true;
    }
    return false;
  };
  if (!taken(path)) return path;
  const std::string stem = path.stem().string();
  const std::string extension = path.extension().string();
  for (int n = 2;; ++n) {
    std::filesystem::path candidate =
        path.parent_path() / (stem + "_" + std::to_string(n) + extension);
    if (!taken(candidate)) return candidate;
  }
}

void RunOutputNames::Take(const std::filesystem::path& path) { taken_.insert(Key(path)); }

void RunOutputNames::Take(std::span<const std::filesystem::path> files) {
  for (const std::filesystem::path& file : files) Take(file);
}

namespace {

// True when `other` could be a replacement name of `path`: same folder and extension, and its
// stem is path's stem, '_' and more. Wider than the "_<n>" names themselves (a replacement of a
// replacement is "<stem>_2_2"): grouping too much costs only parallelism.
bool MayBeReplacementOf(const std::filesystem::path& path, const std::filesystem::path& other) {
  if (path.parent_path() != other.parent_path() || path.extension() != other.extension()) {
    return false;
  }
  const std::string stem = path.stem().string() + "_";
  const std::string other_stem = other.stem().string();
  return other_stem.size() > stem.size() && other_stem.starts_with(stem);
}

}  // namespace

std::vector<std::vector<int>> GroupSourcesByOutput(
    std::span<const std::filesystem::path> planned,
    std::span<const std::vector<std::filesystem::path>> files) {
  // Sources with the same output key form a group; so do sources whose outputs share a file.
  std::vector<std::filesystem::path> keys;  // one per group
  std::vector<std::vector<int>> members;
  std::map<std::string, std::size_t> group_of_key;
  std::map<std::string, std::size_t> group_of_file;
  std::vector<std::size_t> group_of_source(planned.size());
  for (std::size_t i = 0; i < planned.size(); ++i) {
    const std::string key = RunOutputNames::Key(planned[i]);
    const auto [it, added] = group_of_key.emplace(key, keys.size());
    if (added) {
      keys.emplace_back(key);
      members.emplace_back();
    }
    members[it->second].push_back(static_cast<int>(i));
    group_of_source[i] = it->second;
  }
  // A group of several sources makes replacement names: it takes in the groups whose outputs
  // could be one of them, until nothing changes.
  std::vector<std::size_t> root(keys.size());
  std::iota(root.begin(), root.end(), 0);
  auto find = [&](std::size_t g) {
    while (root[g] != g) g = root[g] = root[root[g]];
    return g;
  };
  std::vector<std::size_t> size(keys.size());
  for (std::size_t g = 0; g < keys.size(); ++g) size[g] = members[g].size();
  auto join = [&](std::size_t a, std::size_t b) {
    const std::size_t ra = find(a), rb = find(b);
    if (ra == rb) return false;
    root[std::max(ra, rb)] = std::min(ra, rb);
    size[std::min(ra, rb)] += size[std::max(ra, rb)];
    return true;
  };
  for (std::size_t i = 0; i < files.size() && i < planned.size(); ++i) {
    for (const std::filesystem::path& file : files[i]) {
      const auto [it, added] = group_of_file.emplace(RunOutputNames::Key(file), group_of_source[i]);
      if (!added) join(it->second, group_of_source[i]);
    }
  }
  for (bool changed = true; changed;) {
    changed = false;
    for (std::size_t a = 0; a < keys.size(); ++a) {
      if (size[find(a)] < 2) continue;
      for (std::size_t b = 0; b < keys.size(); ++b) {
        if (MayBeReplacementOf(keys[a], keys[b]) && join(a, b)) changed = true;
      }
    }
  }
  std::vector<std::vector<int>> groups;
  std::vector<std::size_t> index_of_root(keys.size(), keys.size());
  for (std::size_t g = 0; g < keys.size(); ++g) {
    const std::size_t r = find(g);
    if (index_of_root[r] == keys.size()) {
      index_of_root[r] = groups.size();
      groups.emplace_back();
    }
    std::vector<int>& group = groups[index_of_root[r]];
    group.insert(group.end(), members[g].begin(), members[g].end());
  }
  for (std::vector<int>& group : groups) std::sort(group.begin(), group.end());
  return groups;
}

}  // namespace tessmar
