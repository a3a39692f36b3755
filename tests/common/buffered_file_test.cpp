#include "common/buffered_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tessmar {
namespace {

namespace fs = std::filesystem;

class BufferedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tessmar_bf_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  fs::path dir_;
};

TEST_F(BufferedFileTest, LargeWritesSeeksAndReadsAgree) {
  // A pattern larger than two buffers, written in odd-sized pieces.
  std::string pattern;
  for (int i = 0; pattern.size() < 3 * BufferedFile::kBufferSize / 2 * 2 + 777; ++i) {
    pattern += static_cast<char>('a' + i % 26);
  }
  const fs::path path = dir_ / "big.bin";
  BufferedFile f;
  ASSERT_TRUE(f.Create(path));
  for (std::size_t pos = 0; pos < pattern.size(); pos += 1000) {
    ASSERT_TRUE(f.WriteText(std::string_view(pattern).substr(pos, 1000)));
  }
  EXPECT_EQ(f.Position(), static_cast<int64_t>(pattern.size()));
  // Patch a few bytes back near the start (seek flushes first), then append at the end.
  EXPECT_EQ(f.Seek(10), 10);
  ASSERT_TRUE(f.WriteText("PATCH"));
  EXPECT_EQ(f.Seek(0, BufferedFile::Origin::kEnd), static_cast<int64_t>(pattern.size()));
  ASSERT_TRUE(f.WriteText("END"));
  EXPECT_TRUE(f.Close());
  EXPECT_TRUE(f.Close());  // closing a closed file does nothing

  std::string expected = pattern;
  expected.replace(10, 5, "PATCH");
  expected += "END";
  EXPECT_EQ(Slurp(path), expected);

  BufferedFile r;
  ASSERT_TRUE(r.OpenForReading(path));
  EXPECT_EQ(r.Size(), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(r.Seek(BufferedFile::kBufferSize - 3),
            static_cast<int64_t>(BufferedFile::kBufferSize - 3));
  char chunk[10];
  ASSERT_EQ(r.ReadBytes(chunk, sizeof chunk), 10);  // crosses the buffer boundary
  EXPECT_EQ(std::string(chunk, 10), expected.substr(BufferedFile::kBufferSize - 3, 10));
  EXPECT_EQ(r.Seek(-5, BufferedFile::Origin::kCurrent),
            static_cast<int64_t>(BufferedFile::kBufferSize + 2));
  EXPECT_EQ(r.Seek(-1, BufferedFile::Origin::kBegin), -1);
  EXPECT_EQ(r.Seek(0, BufferedFile::Origin::kEnd), static_cast<int64_t>(expected.size()));
  EXPECT_EQ(r.ReadBytes(chunk, sizeof chunk), 0);

  // Blocks larger than the buffer, after buffered bytes and before more, then a patch inside one.
  const fs::path blocks = dir_ / "blocks.bin";
  BufferedFile b;
  ASSERT_TRUE(b.Create(blocks));
  const std::string big = pattern.substr(0, 5 * BufferedFile::kBufferSize / 2);
  ASSERT_TRUE(b.WriteText("head"));
  ASSERT_TRUE(b.WriteText(big));
  ASSERT_TRUE(b.WriteText("mid"));
  ASSERT_TRUE(b.WriteText(big));
  EXPECT_EQ(b.Position(), static_cast<int64_t>(7 + 2 * big.size()));
  EXPECT_EQ(b.Seek(100), 100);
  ASSERT_TRUE(b.WriteText("XY"));
  EXPECT_TRUE(b.Close());
  std::string want = "head" + big + "mid" + big;
  want.replace(100, 2, "XY");
  EXPECT_EQ(Slurp(blocks), want);
}

TEST_F(BufferedFileTest, ReadLineFollowsTheLineRules) {
  const fs::path path = dir_ / "lines.txt";
  // A line end pair straddling the buffer boundary must still count once.
  std::string data(BufferedFile::kBufferSize - 1, 'x');
  data += "\r\nsecond\n\rfourth\r" + std::string(300, 'y') + "\x1A" + "last";
  std::ofstream(path, std::ios::binary) << data;
  BufferedFile f;
  ASSERT_TRUE(f.OpenForReading(path));
  std::string line;
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line.size(), 254u);
  // Skip the rest of the first long line in 254-character pieces.
  std::size_t total = line.size();
  while (total < BufferedFile::kBufferSize - 1) {
    ASSERT_TRUE(f.ReadLine(line));
    total += line.size();
  }
  EXPECT_EQ(total, BufferedFile::kBufferSize - 1);
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, "second");
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, "");  // LF CR is two line ends
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, "fourth");
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, std::string(254, 'y'));
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, std::string(46, 'y'));
  ASSERT_TRUE(f.ReadLine(line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(f.ReadLine(line));
  EXPECT_EQ(f.last_error(), 0);
  EXPECT_EQ(f.Position(), static_cast<int64_t>(data.size()));
}

TEST_F(BufferedFileTest, FailuresAreReported) {
  BufferedFile f;
  EXPECT_FALSE(f.OpenForReading(dir_ / "missing.txt"));
  EXPECT_EQ(f.last_error(), ENOENT);
  EXPECT_FALSE(f.last_error_text().empty());
  EXPECT_FALSE(f.OpenForReading(dir_));  // a folder is not a file
  EXPECT_FALSE(f.Create(dir_ / "no" / "such" / "folder.txt"));
  EXPECT_FALSE(f.WriteText("x"));  // not open
}

TEST_F(BufferedFileTest, FullDiskIsSeenByTheWriteAndByClose) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  BufferedFile f;
  ASSERT_TRUE(f.Create("/dev/full"));
  EXPECT_TRUE(f.WriteText("small"));  // still in the buffer
  const std::string block(BufferedFile::kBufferSize, 'z');
  EXPECT_FALSE(f.WriteText(block));  // this write caused a flush, which failed
  EXPECT_EQ(f.last_error(), ENOSPC);
  EXPECT_FALSE(f.Close());
}

}  // namespace
}  // namespace tessmar
