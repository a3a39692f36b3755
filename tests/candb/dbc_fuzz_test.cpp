// Robustness: every corpus file and random mutations of it go through the reader, the signal
// table, the tree, the lists and the row conversion without a crash, a hang or a sanitizer report.
// The seed is fixed so that a failure can be repeated; TESSMAR_FUZZ_SEED and TESSMAR_FUZZ_ROUNDS
// change it and the number of mutations per file.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "candb/candb.h"
#include "candb/signal_selection.h"
#include "candb/signal_table.h"
#include "candb/signal_views.h"
#include "common/message_output.h"
#include "tests/candb/candb_test_util.h"

namespace tessmar {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

const char* const kFragments[] = {
    "BO_ ",
    "SG_ ",
    "\"",
    "/*",
    "*/",
    "0x",
    "-",
    ".",
    "BA_DEF_ ",
    "BA_DEF_DEF_ ",
    "BA_ ",
    "VAL_ ",
    "NS_ ",
    "BU_",
    "BU_:",
    "CM_ ",
    "SIG_VALTYPE_ ",
    "CAT_ ",
    "m1",
    " M ",
    ";",
    ":",
    "|",
    "@",
    "(",
    ")",
    "[",
    "]",
    ",",
    "\\",
    "\n",
    "99999999999999999999999",
    "-0x",
    "1e999",
    "\xff",
    "\x80",
    "ENUM",
    "INT",
    "HEX",
    "FLOAT",
    "STRING",
    "2147483648",
    "4294967295",
};

std::string Mutate(const std::string& in, std::mt19937& rng) {
  std::string s = in;
  const auto pick = [&rng](std::size_t n) {
    return n == 0 ? std::size_t{0} : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  };
  const int edits = 1 + static_cast<int>(pick(6));
  for (int e = 0; e < edits; ++e) {
    switch (pick(6)) {
      case 0:  // overwrite a byte
        if (!s.empty()) s[pick(s.size())] = static_cast<char>(pick(256));
        break;
      case 1: {  // delete a range
        if (s.empty()) break;
        const std::size_t at = pick(s.size());
        s.erase(at, 1 + pick(40));
        break;
      }
      case 2: {  // insert a fragment of the format
        const char* f = kFragments[pick(std::size(kFragments))];
        s.insert(pick(s.size() + 1), f);
        break;
      }
      case 3:  // truncate
        s.resize(pick(s.size() + 1));
        break;
      case 4: {  // duplicate a range
        if (s.empty()) break;
        const std::size_t at = pick(s.size());
        const std::string chunk = s.substr(at, 1 + pick(200));
        s.insert(pick(s.size() + 1), chunk);
        break;
      }
      default: {  // swap two ranges of the text
        if (s.size() < 4) break;
        const std::size_t a = pick(s.size() / 2);
        const std::size_t b = s.size() / 2 + pick(s.size() / 2);
        std::swap(s[a], s[b]);
        break;
      }
    }
  }
  return s;
}

// Loads the file everywhere the program reads a CAN database.
void Exercise(const std::string& path, LoggerConfiguration& config) {
  {
    CANdb db;
    const int result = db.LoadDbcFile(path);
    EXPECT_TRUE(result == 0 || result == -1) << result;
    for (const auto& m : db.messages()) {
      for (const auto& s : m->signals()) (void)s->FindValueDesc(0);
      (void)db.FindMessageById(m->identifier());
    }
  }
  SignalTable table;
  table.LoadDbc(path, 1, kLoadIgnoreNodeNames);
  table.LoadDbc(path, 2, 0);
  SignalTree tree;
  tree.Build(table);
  SignalLists lists;
  lists.Rebuild(table);
  SignalSearch search;
  search.Search(table, lists, "*a*", false);
  for (int r = 1; r < table.row_count() && r < 40; ++r) {
    AddTableRow(config, table, r);
    (void)LayoutForTableRow(table, r);
  }
  MarkLoggedRows(table, config.sigs);
  (void)ShowSignalInfo(config, 0);
}

TEST(DbcFuzz, CorpusAndMutationsLoadSafely) {
  const char* seed_env = std::getenv("TESSMAR_FUZZ_SEED");
  const char* rounds_env = std::getenv("TESSMAR_FUZZ_ROUNDS");
  const unsigned seed =
      seed_env ? static_cast<unsigned>(std::strtoul(seed_env, nullptr, 10)) : 20261207u;
  const int rounds = rounds_env ? std::atoi(rounds_env) : 15;
  std::mt19937 rng(seed);

  MessageCapture quiet;
  SetBatchMode(true);
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(testing_util::CorpusDir())) {
    const std::string ext = e.path().extension().string();
    if (ext == ".dbc" || ext == ".DBC") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 58u);

  testing_util::DbcFile scratch("");
  for (const auto& f : files) {
    SCOPED_TRACE(f.filename().string());
    auto config = std::make_unique<LoggerConfiguration>();
    Exercise(f.string(), *config);
    const std::string original = ReadAll(f);
    for (int i = 0; i < rounds; ++i) {
      const std::string mutated = Mutate(original, rng);
      {
        std::ofstream out(scratch.path(), std::ios::binary | std::ios::trunc);
        out << mutated;
      }
      Exercise(scratch.path(), *config);
      quiet.Clear();
    }
  }
  SetBatchMode(false);
}

// Many messages in one index bucket and one message with very many signals, each looked up by
// later statements: the lookups must not turn the load quadratic.
TEST(DbcFuzz, CrowdedBucketsAndHugeMessagesLoadQuickly) {
  constexpr int kCount = 20000;
  std::string text = "BU_: N\n";
  for (int i = 0; i < kCount; ++i) {
    text += "BO_ " + std::to_string(5 + 2048 * i) + " M" + std::to_string(i) + ": 8 N\n";
  }
  text += "BO_ 3 Huge: 8 N\n";
  for (int i = 0; i < kCount; ++i) {
    text += " SG_ S" + std::to_string(i) + " : 0|8@1+ (1,0) [0|0] \"\" N\n";
  }
  for (int i = 0; i < kCount; ++i) {
    text += "CM_ BO_ " + std::to_string(5 + 2048 * i) + " \"c\";\n";
    text += "CM_ SG_ 3 S" + std::to_string(i) + " \"c\";\n";
  }
  testing_util::DbcFile f(text);
  MessageCapture quiet;
  const auto start = std::chrono::steady_clock::now();
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(quiet.CountAtLeast(kMsgWarning), 0);
  EXPECT_EQ(db.message_count(), kCount + 1);
  EXPECT_TRUE(db.FindMessageById(5 + 2048 * (kCount - 1))->comment().has_value());
  EXPECT_TRUE(db.FindMessageById(3)->signals().back()->comment().has_value());
  EXPECT_LT(seconds, 20.0);  // a quadratic walk takes minutes; this takes well below a second
}

}  // namespace
}  // namespace tessmar
