#include "config/clc_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/message_output.h"
#include "common/text_readers.h"
#include "config/clc_parser.h"
#include "config/scramble.h"

namespace tessmar {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// Bytes of a simple generator: the same every run.
std::string RandomBytes(uint32_t seed, int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes += static_cast<char>(seed >> 24);
  }
  return bytes;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
    lines.push_back(text.substr(start, pos - start));
  }
  EXPECT_EQ(start, text.size()) << "text must end in CR LF";
  return lines;
}

class ClcFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tessmar_clc_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    a_ = std::make_unique<LoggerConfiguration>();
    b_ = std::make_unique<LoggerConfiguration>();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Parses lines into b_ starting in the logger section; returns the number not understood.
  int Parse(const std::vector<std::string>& lines,
            ClcReadState state = ClcReadState::kLoggerConfig) {
    ClcLineParser p(b_->cfg, b_->sigs);
    p.set_state(state);
    int unknown = 0;
    for (const auto& l : lines) unknown += p.ParseLine(l) ? 0 : 1;
    return unknown;
  }

  // A configuration that uses every field, including texts that need escaping.
  void FillEverything(LoggerConfiguration& c, uint32_t family) {
    NewConfigWithDefaults(c.cfg, c.sigs, family);
    T_CanLog_Config& g = c.cfg;
    SetText(g.InfoString, "Info \"quoted\" text");
    SetText(g.PwdHint1, "hint: pet's name");
    SetText(g.DbFileBus1, "C:\\dbc\\bus1.dbc");
    SetText(g.DbFileBus2, "D:\\dbc\\");
    g.ReceiveAll = 1;
    g.ReceiveAppl = 0;
    g.ReceiveErrFrames = 1;
    g.ReceiveGps = 1;
    g.LogScriptVars = 1;
    g.FifoMode = 1;
    g.NewFileOnStartup = 1;
    g.NewFileOnTrigger = 1;
    g.KeepFileOpened = 1;
    g.FileSizeLimit = 123456;
    g.MsgRateLimit = -5;
    g.TimestampFreq = 39062.5;
    g.InitTrigger = 2;
    g.Pretrig10ms = 32767;
    g.Posttrig10ms = 7;
    g.TrigOnDigIn = -3;
    g.TrigOnRxId = 0x60000123;
    g.TrigOptions = 0x2A;
    for (int i = 0; i < kMaxTriggerLines; ++i) {
      SetText(g.SigName[i], "Sig_" + std::to_string(i));
      g.ActionOrCombi[i] = i % 5 - 1;
    }
    for (int i = 0; i < kMaxTriggerComparisons; ++i) {
      g.CompOp[i] = i % 7;
      g.CompVal[i] = i * 1.25 - 3;
    }
    // Comparison values and the timer frequency with more than six digits survive the file.
    g.CompVal[4] = 1234567.0;
    g.CompVal[5] = 0.1 + 0.2;
    g.OuterCombi[0] = 1;
    g.OuterCombi[1] = 0;
    g.Use2Starts = 1;
    g.Msg[0].id = 0x7FF;
    SetText(g.Msg[0].mn, "Engine");
    SetText(g.Msg[0].nn, "ECU_1");
    g.Msg[0].wi = 25;
    g.Msg[200].id = 0x60000123;
    SetText(g.Msg[200].mn, std::string(40, 'M'));
    g.Exp[5] = {};
    SetText(g.Exp[5].ex, "a+b*\"c\"");
    SetText(g.Exp[5].na, "Sum");
    g.Exp[5].mi = -1.5;
    g.Exp[5].ma = 1E+10;
    T_CanLog_SigDef& s = c.sigs[17];
    SetText(s.sn, "Speed");
    s.ty = 'U';
    s.bo = 'I';
    SetText(s.un, "km/h");
    s.fa = 0.01;
    s.of = -40;
    s.mi = -40;
    s.ma = 615.35;
    s.sb = 8;
    s.nb = 16;
    s.id = 0x7FF;
    s.mu = {4, 0, 'M', -7};
    T_CanLog_SigDef& d = c.sigs[255];
    SetText(d.sn, "Ratio");
    d.ty = 'D';
    d.nb = 64;
    d.id = 0x60000123;
  }

  fs::path dir_;
  std::unique_ptr<LoggerConfiguration> a_;
  std::unique_ptr<LoggerConfiguration> b_;
};

// ---- Writer ------------------------------------------------------------------------------------

TEST_F(ClcFileTest, DefaultFileOfFamily1IsExact) {
  NewConfigWithDefaults(a_->cfg, a_->sigs, 1);
  a_->modified = true;
  const fs::path path = dir_ / "new.clc";
  ASSERT_TRUE(WriteClcFile(path, *a_));
  EXPECT_FALSE(a_->modified);
  EXPECT_EQ(Slurp(path), Slurp(fs::path(TESSMAR_TEST_DATA_DIR) / "clc" / "default_family1.clc"));
}

TEST_F(ClcFileTest, FourLineTriggerLayoutForFamily0) {
  NewConfigWithDefaults(a_->cfg, a_->sigs, 0);
  a_->cfg.CompOp[7] = 0;
  a_->cfg.CompVal[6] = 2.5;
  const std::string text = ClcPlainText(a_->cfg, a_->sigs);
  const std::string tail = text.substr(text.find("[TriggerCondition]\r\n"));
  EXPECT_TRUE(
      tail.starts_with("[TriggerCondition]\r\nSigName0=\r\nCompOpA0=1\r\nCompValA0=0\r\n"
                       "InnerCombi0=2\r\nCompOpB0=3\r\nCompValB0=0\r\nSigName1=\r\n"));
  EXPECT_NE(text.find("\r\nCompValA3=2.5\r\nInnerCombi3=2\r\nCompOpB3=0\r\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("CompValB3=0\r\nOuterCombi0=2\r\nOuterCombi1=2\r\nUse2Starts=0\r\n"));
  EXPECT_EQ(text.find("ActionOrCombi"), std::string::npos);
}

TEST_F(ClcFileTest, LinesOfUsedSlotsAndTheirFormats) {
  FillEverything(*a_, 1);
  const std::string text = ClcPlainText(a_->cfg, a_->sigs);
  EXPECT_NE(text.find("\r\nMsg00: id=0x7FF,mn=\"Engine\",nn=\"ECU_1\",wi=25\r\n"
                      "Msg200: id=0x60000123,mn=\"" +
                      std::string(40, 'M') +
                      "\",nn=\"\",wi=0\r\n"
                      "Sig00: "),
            std::string::npos);
  EXPECT_NE(text.find("\r\nSig17: id=0x7FF,sn=\"Speed\",ty=U,un=\"km/h\",fa=0.01,of=-40,"
                      "mi=-40,ma=615.35,sb=8,nb=16,bo=I,mu=(-7,0,4,M)\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\nExp05: ex=\"a+b*\\\"c\\\"\",na=\"Sum\",mi=-1.5,ma=1E+10\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\nInfoString=\"Info \\\"quoted\\\" text\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nDbFileBus1=\"C:\\dbc\\bus1.dbc\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nDbFileBus2=\"D:\\dbc\\\\\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nTrigOnRxId=0x60000123\r\nTrigOptions=0x0000002A\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\nMsgRateLimit=-5\r\nTimestampFreq=39062.5\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nSigName3=Sig_3\r\nCompOp3=3\r\nCompVal3=0.75\r\nActionOrCombi3=2\r\n"),
            std::string::npos);
}

// ---- Round trips -------------------------------------------------------------------------------

TEST_F(ClcFileTest, EverythingRoundTripsPlainAndProtected) {
  for (uint32_t family : {0u, 1u, 4u}) {
    for (const char* password : {"", "Secret 42!"}) {
      FillEverything(*a_, family);
      SetText(a_->cfg.Password1, password);
      if (family == 0) {
        // The four-line layout carries four trigger lines only.
        for (int i = 4; i < kMaxTriggerLines; ++i) {
          SetText(a_->cfg.SigName[i], "");
          a_->cfg.ActionOrCombi[i] = 2;
        }
        for (int i = 8; i < kMaxTriggerComparisons; ++i) {
          a_->cfg.CompOp[i] = i % 2 ? 3 : 1;
          a_->cfg.CompVal[i] = 0;
        }
      } else {
        // The grid layout carries ten comparisons and no outer combination.
        for (int i = 10; i < kMaxTriggerComparisons; ++i) {
          a_->cfg.CompOp[i] = i % 2 ? 3 : 1;
          a_->cfg.CompVal[i] = 0;
        }
        a_->cfg.OuterCombi[0] = a_->cfg.OuterCombi[1] = 2;
        a_->cfg.Use2Starts = 0;
      }
      const fs::path path = dir_ / "full.clc";
      ASSERT_TRUE(WriteClcFile(path, *a_));
      NewConfigWithDefaults(b_->cfg, b_->sigs, 3);
      // Reading marks nothing as unknown (the odd values, such as a negative rate limit, are only
      // warned about) and reproduces the record: the messages of both signals exist (one of them
      // behind free slots), so no message of unknown name is added.
      MessageCapture capture;
      b_->modified = true;
      int unknown = -1;
      ASSERT_TRUE(ReadClcFile(path, *b_, nullptr, &unknown));
      EXPECT_EQ(unknown, 0);
      EXPECT_EQ(capture.CountAtLeast(kMsgError), 0);
      EXPECT_FALSE(b_->modified);
      EXPECT_TRUE(a_->cfg == b_->cfg) << "family " << family << " password " << password;
      EXPECT_TRUE(a_->sigs == b_->sigs);
      // Written again, the file is byte for byte the same.
      const fs::path again = dir_ / "again.clc";
      ASSERT_TRUE(WriteClcFile(again, *b_));
      EXPECT_EQ(Slurp(again), Slurp(path));
    }
  }
}

TEST_F(ClcFileTest, ProtectedFileIsScrambledFromTheHintLineOn) {
  FillEverything(*a_, 1);
  SetText(a_->cfg.Password1, "Secret");
  const int32_t key = KeyFromPassword("Secret");
  const std::vector<std::string> plain = SplitCrLf(ClcPlainText(a_->cfg, a_->sigs));
  const std::vector<std::string> written = SplitCrLf(ClcFileText(a_->cfg, a_->sigs));
  ASSERT_EQ(plain.size(), written.size());
  EXPECT_EQ(written[0], "[Common]");
  EXPECT_EQ(written[1], "Encryption=" + std::to_string(key));
  EXPECT_EQ(written[2].substr(8, 2), "=\"");  // punctuation stays, letters move
  EXPECT_NE(written[2], plain[2]);
  for (std::size_t i = 2; i < plain.size(); ++i) {
    ASSERT_EQ(written[i].size(), plain[i].size()) << i;
    EXPECT_EQ(written[i], Scrambled(plain[i], key)) << i;
  }
  EXPECT_EQ(written[5].substr(0, 1), "[");
  EXPECT_NE(written[5], "[CanLoggerConfig]");
  // A blank first character leaves the file plain although a password is set.
  SetText(a_->cfg.Password1, " Secret");
  EXPECT_EQ(ClcFileText(a_->cfg, a_->sigs), ClcPlainText(a_->cfg, a_->sigs));
}

TEST_F(ClcFileTest, PasswordWithControlCharactersIsKeyedAsWritten) {
  // Control characters are written as blanks; the key must be that of the written password, or
  // the file read back carries a password that does not match its own key.
  NewConfigWithDefaults(a_->cfg, a_->sigs, 1);
  SetText(a_->cfg.Password1, "ab\ncd\tef");
  const fs::path path = dir_ / "ctl.clc";
  ASSERT_TRUE(WriteClcFile(path, *a_));
  const std::vector<std::string> written = SplitCrLf(Slurp(path));
  EXPECT_EQ(written[1], "Encryption=" + std::to_string(KeyFromPassword("ab cd ef")));
  ASSERT_TRUE(ReadClcFile(path, *b_));
  EXPECT_EQ(TextOf(b_->cfg.Password1), "ab cd ef");
  EXPECT_EQ(ClcWriteKey(b_->cfg), ClcWriteKey(a_->cfg));
  // Saving what was read gives the same file again.
  EXPECT_EQ(ClcFileText(b_->cfg, b_->sigs), Slurp(path));
}

// ---- Parser ------------------------------------------------------------------------------------

TEST_F(ClcFileTest, SignalLineCompletesTypeAndCreatesItsMessage) {
  EXPECT_EQ(Parse({"Sig05: id=0x123,sn=\"Speed\",ty=F,nb=64"}), 0);
  const T_CanLog_SigDef& s = b_->sigs[5];
  EXPECT_EQ(s.ty, 'D');
  EXPECT_EQ(s.id, 0x123u);
  EXPECT_EQ(s.bo, 'M');  // missing keys keep their cleared values
  EXPECT_EQ(s.fa, 1.0);
  ASSERT_EQ(CountUsedMessages(b_->cfg), 1);
  EXPECT_EQ(b_->cfg.Msg[0].id, 0x123u);
  EXPECT_EQ(TextOf(b_->cfg.Msg[0].mn), "<UnknownMessageName>");
  EXPECT_EQ(TextOf(b_->cfg.Msg[0].nn), "<UnknownNodeName>");
  // A second signal of the same message adds nothing; a free identifier creates nothing.
  EXPECT_EQ(Parse({"Sig06: id=0x123,sn=\"Other\"", "Sig07: id=0xFFFFFFFF"}), 0);
  EXPECT_EQ(CountUsedMessages(b_->cfg), 1);
  // The key "vn" names the signal too; a line clears its slot before filling it.
  EXPECT_EQ(Parse({"Sig05:  vn=\"Alias\" , ty=U"}), 0);
  EXPECT_EQ(TextOf(b_->sigs[5].sn), "Alias");
  EXPECT_EQ(b_->sigs[5].id, kCanIdFree);
}

TEST_F(ClcFileTest, KeyListEndsAtAnUnknownOrMalformedItem) {
  EXPECT_EQ(Parse({"Msg03: id=0x10,xx=5,mn=\"Lost\"", "Msg04: id=0x11 mn=\"Lost\"",
                   "Msg05: id=0x12,Mn=\"Lost\"", "Msg06 anything: mn=\"Kept\",wi=3"}),
            0);
  EXPECT_EQ(b_->cfg.Msg[3].id, 0x10u);
  EXPECT_EQ(TextOf(b_->cfg.Msg[3].mn), "");
  EXPECT_EQ(TextOf(b_->cfg.Msg[4].mn), "");
  EXPECT_EQ(TextOf(b_->cfg.Msg[5].mn), "");
  EXPECT_EQ(TextOf(b_->cfg.Msg[6].mn), "Kept");
  EXPECT_EQ(b_->cfg.Msg[6].wi, 3);
  // Out-of-range slots are understood and ignored; a missing index is not understood.
  EXPECT_EQ(Parse({"Msg256: id=0x1", "Sig-1: id=0x1", "Exp64: ex=\"x\""}), 0);
  EXPECT_EQ(CountUsedMessages(b_->cfg), 3);
  EXPECT_EQ(Parse({"Msgs: id=0x1"}), 1);
}

TEST_F(ClcFileTest, MuxItemForms) {
  EXPECT_EQ(Parse({"Sig01: id=0x1,mu=(5,8,4,I),nb=3", "Sig02: id=0x1,mu=\"-2,0,3,M\",nb=4",
                   "Sig03: id=0x1,mu=(0xFFFFFFFF,1,8,M)", "Sig04: id=0x1,mu=(9,1,0,M)"}),
            0);
  const auto& m1 = b_->sigs[1].mu;
  EXPECT_EQ(m1.MuxVal, 5);
  EXPECT_EQ(m1.MuxStartBit, 8);
  EXPECT_EQ(m1.MuxBitCount, 4);
  EXPECT_EQ(m1.MuxByteOrder, 'I');
  EXPECT_EQ(b_->sigs[1].nb, 3);
  EXPECT_EQ(b_->sigs[2].mu.MuxVal, -2);
  EXPECT_EQ(b_->sigs[2].nb, 4);
  EXPECT_EQ(b_->sigs[3].mu.MuxVal, -1);  // 32-bit value widened with its sign
  EXPECT_FALSE(b_->sigs[4].multiplexed());
}

TEST_F(ClcFileTest, TriggerIndicesAndLetters) {
  EXPECT_EQ(Parse({"CompOpB3=5", "CompOp12=6", "CompValA9 =2.5", "InnerCombi2=1",
                   "ActionOrCombi9=4", "OuterCombi1=0", "OuterCombi2=1", "SigName4=Speed.x",
                   "SigName5=\"Quoted name\"", "Use2Starts=1"},
                  ClcReadState::kTrigger),
            0);
  const T_CanLog_Config& c = b_->cfg;
  EXPECT_EQ(c.CompOp[7], 5);
  EXPECT_EQ(c.CompOp[1], 6);  // one digit only
  EXPECT_EQ(c.CompVal[18], 2.5);
  EXPECT_EQ(c.ActionOrCombi[2], 1);
  EXPECT_EQ(c.ActionOrCombi[9], 4);
  EXPECT_EQ(c.OuterCombi[1], 0);
  EXPECT_EQ(c.OuterCombi[0], 2);  // index 2 ignored
  EXPECT_EQ(TextOf(c.SigName[4]), "Speed");
  EXPECT_EQ(TextOf(c.SigName[5]), "Quoted name");
  EXPECT_EQ(c.Use2Starts, 1);
  EXPECT_EQ(Parse({"CompOp=1", "SigNameX=a"}, ClcReadState::kTrigger), 2);
}

TEST_F(ClcFileTest, SectionsDecideWhichKeysAreUnderstood) {
  b_->cfg.NewFileOnStartup = 1;
  EXPECT_EQ(Parse({"ReopenToAppend=1"}), 0);
  EXPECT_EQ(b_->cfg.NewFileOnStartup, 0);
  EXPECT_EQ(Parse({"ReopenToAppend=0"}), 0);
  EXPECT_EQ(b_->cfg.NewFileOnStartup, 1);
  // Logger keys are not understood in the trigger section and vice versa; the common keys
  // everywhere; sections are compared as whole lines.
  EXPECT_EQ(Parse({"FifoMode=1"}, ClcReadState::kTrigger), 1);
  EXPECT_EQ(Parse({"CompOp1=1"}, ClcReadState::kLoggerConfig), 1);
  EXPECT_EQ(Parse({"[CanSnooperConfig]", "FifoMode=1", "PwdHint1=\"h\"", "[Common] ", "[common]",
                   " FifoMode=1"}),
            4);
  EXPECT_EQ(TextOf(b_->cfg.PwdHint1), "h");
  EXPECT_EQ(Parse({"[LogFileInfo]", "StartTimestamp=1"}, ClcReadState::kNone), 0);
  EXPECT_EQ(Parse({"StartTimestamp=1"}, ClcReadState::kLoggerConfig), 1);
}

TEST_F(ClcFileTest, OverlongTextsAndAbsurdNumbers) {
  EXPECT_EQ(
      Parse({"InfoString=\"" + std::string(300, 'i') + "\"",
             "DbFileBus1=\"" + std::string(100, 'p') + "\"",
             "Sig09: id=0x99999999999,sn=\"" + std::string(60, 's') +
                 "\",un=\"kilometres\",fa=1e999,of=-1e-999,sb=99999999,nb=-5",
             "TimestampFreq=1" + std::string(400, '0'), "InitTrigger=70000", "Pretrig10ms=-1"}),
      0);
  const T_CanLog_Config& c = b_->cfg;
  EXPECT_EQ(TextOf(c.InfoString), std::string(40, 'i'));
  EXPECT_EQ(TextOf(c.DbFileBus1), std::string(80, 'p'));
  const T_CanLog_SigDef& s = b_->sigs[9];
  EXPECT_EQ(TextOf(s.sn), std::string(40, 's'));
  EXPECT_EQ(TextOf(s.un), "kilometr");
  EXPECT_EQ(s.fa, 1.0);  // exponent out of range is ignored
  EXPECT_EQ(s.of, -1.0);
  EXPECT_EQ(s.id, 0x99999999u);  // 32-bit accumulation
  EXPECT_GT(c.TimestampFreq, 1e300);
  EXPECT_EQ(c.InitTrigger, static_cast<int16_t>(70000));
  EXPECT_EQ(c.Pretrig10ms, 65535);
}

TEST_F(ClcFileTest, LogFileInfoValues) {
  T_CanLog_Config cfg;
  auto sigs = std::make_unique<T_CanLog_SigTab>();
  ClcLineParser p(cfg, *sigs);
  EXPECT_TRUE(p.ParseLine("[LogFileInfo]"));
  EXPECT_TRUE(p.ParseLine("StartDate=2024-02-29 13:45:07"));
  EXPECT_TRUE(p.ParseLine("StartTimestamp=4000000000"));
  EXPECT_FALSE(p.ParseLine("Other=1"));
  const LogFileInfo& i = p.log_file_info();
  EXPECT_TRUE(i.has_start_date);
  EXPECT_EQ(i.year, 2024);
  EXPECT_EQ(i.second, 7);
  EXPECT_EQ(i.start_date, 1709214307);  // 2024-02-29 13:45:07 UTC
  EXPECT_EQ(i.start_timestamp, 4000000000u);
  EXPECT_EQ(CalendarToSeconds(1970, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(CalendarToSeconds(2000, 3, 1, 0, 0, 0), 951868800);
  EXPECT_EQ(CalendarToSeconds(1999, 15, 1, 0, 0, 0), 951868800);  // month 15 of 1999
}

TEST_F(ClcFileTest, HeaderLinesAreUnscrambledWithTheDeclaredKey) {
  T_CanLog_Config cfg;
  auto sigs = std::make_unique<T_CanLog_SigTab>();
  ClcLineParser p(cfg, *sigs);
  const int32_t key = KeyFromPassword("pw");
  EXPECT_TRUE(p.FeedFileLine("[Common]"));
  EXPECT_TRUE(p.FeedFileLine("Encryption=" + std::to_string(key)));
  EXPECT_EQ(p.key(), key);
  std::string seen;
  EXPECT_TRUE(p.FeedFileLine(Scrambled("[CanLoggerConfig]", key), &seen));
  EXPECT_EQ(seen, "[CanLoggerConfig]");
  EXPECT_TRUE(p.FeedFileLine(Scrambled("FifoMode=1", key)));
  EXPECT_EQ(cfg.FifoMode, 1);
  EXPECT_EQ(p.state(), ClcReadState::kLoggerConfig);
}

// ---- Reading files -----------------------------------------------------------------------------

TEST_F(ClcFileTest, UnknownLinesAreReportedAndReadingGoesOn) {
  const fs::path path = dir_ / "odd.clc";
  Spit(path, "[CanLoggerConfig]\nFoo=1\r\n\r\nFifoMode=1\n\n[TriggerCondition]\rFoo=1");
  MessageCapture capture;
  int unknown = 0;
  ASSERT_TRUE(ReadClcFile(path, *b_, nullptr, &unknown));
  EXPECT_EQ(unknown, 2);
  ASSERT_EQ(capture.entries().size(), 2u);
  EXPECT_EQ(capture.entries()[0].severity, kMsgError);
  EXPECT_EQ(capture.entries()[0].text, "Unknown: \"Foo=1\" .");
  EXPECT_EQ(b_->cfg.FifoMode, 1);
}

// Random bytes: a few lines are shown, then the file is named as no configuration and not read.
TEST_F(ClcFileTest, ManyUnknownLinesWithoutASectionAreNoConfiguration) {
  Spit(dir_ / "random.clc", RandomBytes(7, 4000));
  FillEverything(*b_, 2);
  auto before = std::make_unique<LoggerConfiguration>(*b_);
  MessageCapture capture;
  std::string error;
  int unknown = 0;
  EXPECT_FALSE(ReadClcFile(dir_ / "random.clc", *b_, &error, &unknown));
  EXPECT_GT(unknown, 5);
  EXPECT_EQ(capture.entries().size(), 5u);
  EXPECT_EQ(error.find("\"" + (dir_ / "random.clc").string() +
                       "\" is not a logger configuration: " + std::to_string(unknown) + " of its "),
            0u)
      << error;
  EXPECT_TRUE(before->cfg == b_->cfg);
}

// Values the reader cannot use are kept as read and named with their line.
TEST_F(ClcFileTest, UnusableValuesAreReportedWithTheirLine) {
  MessageCapture capture;
  ASSERT_TRUE(
      ReadClcText("[CanLoggerConfig]\r\nDeviceFamily=banana\r\nFifoMode=1\r\n"
                  "Sig09: id=zz,sn=,ty=Q\r\nSig00: id=0xFFFFFFFF,sn=\"\",ty=S\r\n",
                  *b_));
  EXPECT_EQ(b_->cfg.DeviceFamily, 0u);
  EXPECT_EQ(b_->sigs[9].id, 0u);
  std::vector<std::string> texts;
  for (const auto& e : capture.entries()) {
    EXPECT_EQ(e.severity, kMsgWarning);
    texts.push_back(e.text);
  }
  EXPECT_EQ(texts,
            (std::vector<std::string>{
                "Line 2 has a value that cannot be used (DeviceFamily=banana: not a number) .",
                "Line 4 has a value that cannot be used (id=zz: not a number) .",
                "Line 4 has a value that cannot be used (ty=Q: U, S, F or D expected) .",
                "Line 4 has a value that cannot be used (sn=: a signal name expected) ."}));
}

TEST_F(ClcFileTest, UnreadableFilesLeaveTheConfigurationAlone) {
  FillEverything(*b_, 2);
  auto before = std::make_unique<LoggerConfiguration>(*b_);
  std::string error;
  EXPECT_FALSE(ReadClcFile(dir_ / "missing.clc", *b_, &error));
  EXPECT_NE(error.find("missing.clc"), std::string::npos);
  EXPECT_FALSE(ReadClcFile(dir_, *b_, &error));
  EXPECT_TRUE(before->cfg == b_->cfg);
  EXPECT_FALSE(WriteClcFile(dir_ / "no" / "folder" / "x.clc", *b_, &error));
  EXPECT_NE(error.find("x.clc"), std::string::npos);
  if (fs::exists("/dev/full")) {
    EXPECT_FALSE(WriteClcFile("/dev/full", b_->cfg, b_->sigs, &error));
  }
}

TEST_F(ClcFileTest, BinaryGarbageAndOverlongLinesDoNoHarm) {
  std::string garbage = RandomBytes(12345, 200000);
  // An over-long line whose tail looks like a key: the tail is read as a line of its own.
  garbage += "\r\n[CanLoggerConfig]\r\n" + std::string(254, 'x') + "FifoMode=1\r\n";
  garbage += "Encryption=77\r\n";  // later lines unscrambled with a key: still no harm
  garbage += std::string(1000, '\xFF');
  const fs::path path = dir_ / "garbage.clc";
  Spit(path, garbage);
  MessageCapture capture;
  int unknown = 0;
  ASSERT_TRUE(ReadClcFile(path, *b_, nullptr, &unknown));
  EXPECT_GT(unknown, 0);
  EXPECT_EQ(b_->cfg.FifoMode, 1);
}

TEST_F(ClcFileTest, RandomLinesBuiltFromRealFragmentsAreSafe) {
  // Lines glued together from the fragments the parser looks for, in random order: whatever the
  // parser makes of them, it must stay inside its fields (checked by the sanitizer build).
  static const char* const kFragments[] = {"Msg",
                                           "Sig",
                                           "Exp",
                                           "255",
                                           "-1",
                                           "00",
                                           ":",
                                           " ",
                                           ",",
                                           "=",
                                           "\"",
                                           "\\",
                                           "id=",
                                           "sn=",
                                           "vn=",
                                           "ty=",
                                           "un=",
                                           "fa=",
                                           "mu=(",
                                           ")",
                                           "nb=",
                                           "bo=",
                                           "ex=",
                                           "na=",
                                           "0x",
                                           "$",
                                           "%",
                                           "#",
                                           "FFFFFFFF",
                                           "9999999999999999999",
                                           "e-31",
                                           "e30",
                                           ".5",
                                           "CompOp",
                                           "CompValB",
                                           "A",
                                           "9",
                                           "SigName",
                                           "OuterCombi",
                                           "InnerCombi",
                                           "StartDate=",
                                           "StartTimestamp=",
                                           "Encryption=",
                                           "PwdHint1=",
                                           "[LogFileInfo]",
                                           "[TriggerCondition]",
                                           "[CanLoggerConfig]",
                                           "InfoString=",
                                           "\t",
                                           "xx",
                                           "DeviceFamily="};
  uint32_t x = 99;
  auto next = [&x](uint32_t n) {
    x = x * 1664525u + 1013904223u;
    return (x >> 8) % n;
  };
  T_CanLog_Config cfg;
  auto sigs = std::make_unique<T_CanLog_SigTab>();
  ClcLineParser p(cfg, *sigs);
  std::string line;
  for (int i = 0; i < 20000; ++i) {
    line.clear();
    const uint32_t parts = 1 + next(12);
    for (uint32_t k = 0; k < parts; ++k) line += kFragments[next(std::size(kFragments))];
    p.FeedFileLine(line);
    if (i % 1000 == 0) p.set_key(0);
  }
  // Whatever was read, every written line reads back to the same record.
  const fs::path path = dir_ / "fuzz.clc";
  a_->cfg = cfg;
  a_->sigs = *sigs;
  SetText(a_->cfg.Password1, "x");
  ASSERT_TRUE(WriteClcFile(path, *a_));
  ASSERT_TRUE(ReadClcFile(path, *b_));
  ASSERT_TRUE(WriteClcFile(dir_ / "again.clc", *b_));
  EXPECT_EQ(Slurp(dir_ / "again.clc"), Slurp(path));
}

// Text in memory reads like the same bytes in a file: the committed configurations, and one with
// every kind of line end, an over-long line, a line not understood and no final line end.
TEST_F(ClcFileTest, TextInMemoryReadsLikeTheFile) {
  for (const std::string& text :
       {Slurp(fs::path(TESSMAR_TEST_DATA_DIR) / "clc" / "default_family1.clc"),
        Slurp(fs::path(TESSMAR_EXAMPLES_DIR) / "demo_logger.clc"),
        "[CanLoggerConfig]\rFifoMode=1\n\rFoo=1\r\n" + std::string(300, 'x') +
            "\x01KeepFileOpened=1"}) {
    ASSERT_FALSE(text.empty());
    Spit(dir_ / "t.clc", text);
    int unknown_file = -1;
    int unknown_memory = -1;
    ASSERT_TRUE(ReadClcFile(dir_ / "t.clc", *a_, nullptr, &unknown_file));
    ASSERT_TRUE(ReadClcText(text, *b_, &unknown_memory));
    EXPECT_EQ(ClcPlainText(b_->cfg, b_->sigs), ClcPlainText(a_->cfg, a_->sigs));
    EXPECT_TRUE(a_->cfg == b_->cfg);
    EXPECT_EQ(unknown_memory, unknown_file);
  }
}

}  // namespace
}  // namespace tessmar
