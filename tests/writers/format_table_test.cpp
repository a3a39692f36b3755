#include <gtest/gtest.h>

#include <set>
#include <string>

#include "writers/format_writers.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

// Every line of the format table is reachable by its code, list position and CLI name, and its
// writer exists for every output type it claims: a new line that repeats a code or a name, or
// forgets its factory, fails here.
TEST(FormatTable, EveryFormatIsFoundAndCreated) {
  std::set<int> codes;
  std::set<std::string> names;
  for (std::size_t i = 0; i < kOutputFormats.size(); ++i) {
    const OutputFormatInfo& f = kOutputFormats[i];
    SCOPED_TRACE(f.list_text);
    EXPECT_TRUE(codes.insert(f.code).second);
    EXPECT_TRUE(names.insert(f.cli_name).second);
    EXPECT_EQ(FindOutputFormat(f.code), &f);
    EXPECT_EQ(FindOutputFormatByCliName(f.cli_name), &f);
    EXPECT_EQ(OutputFormatListIndex(f.code), static_cast<int>(i));
    EXPECT_EQ(f.default_extension[0], '.');
    for (int type = 0; type < kOutputTypeCount; ++type) {
      const OutputType t = static_cast<OutputType>(type);
      std::string why;
      const bool written = (f.output_types & OutputTypeBit(t)) != 0;
      EXPECT_EQ(CreateWriter(t, f.code, &why) != nullptr, written || t == OutputType::kLogfileDump)
          << type << " " << why;
    }
  }
  EXPECT_EQ(FindOutputFormat(10), nullptr);
  EXPECT_EQ(FindOutputFormatByCliName("mdf"), nullptr);
  std::string why;
  EXPECT_EQ(CreateWriter(OutputType::kSignals, 10, &why), nullptr);
  EXPECT_EQ(why, "unknown output format code 10");
}

}  // namespace
}  // namespace tessmar
