// Status line rules, the partner-window messages and the single instance's rules, without any
// window.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/converter_choices.h"
#include "app/instance_rules.h"
#include "app/partner_link.h"
#include "app/status_line.h"
#include "common/message_output.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

// ---- Status line ------------------------------------------------------------------------------

TEST(StatusLine, HigherOrEqualSeverityReplacesLowerDoesNot) {
  StatusLine line;
  EXPECT_TRUE(line.Offer(kMsgInfo, "first"));
  EXPECT_TRUE(line.Offer(kMsgError, "broken"));
  EXPECT_FALSE(line.Offer(kMsgWarning, "warned"));
  EXPECT_FALSE(line.Offer(kMsgInfo, "info"));
  EXPECT_EQ(line.text(), "broken");
  EXPECT_TRUE(line.Offer(kMsgError, "broken again"));
  EXPECT_EQ(line.text(), "broken again");
}

TEST(StatusLine, StatusTextsAlwaysReplaceAndResetLowersTheBar) {
  StatusLine line;
  line.Offer(kMsgError, "broken");
  EXPECT_TRUE(line.Offer(kMsgStatus, "Converting ... 5 % of 10 kByte"));
  EXPECT_EQ(line.severity(), kMsgStatus);
  // A status text takes the shown severity 1, so a following information text stays hidden
  // until the severity is reset (as before the command line and before saving).
  EXPECT_FALSE(line.Offer(kMsgInfo, "info"));
  line.ResetSeverity();
  EXPECT_TRUE(line.Offer(kMsgInfo, "info"));
}

TEST(StatusLine, OnlyTheOwnerClears) {
  StatusLine line;
  line.Offer(kMsgError, "conflict", StatusOwner::kOptionConflict);
  EXPECT_FALSE(line.ClearIfOwner(StatusOwner::kTriggerCheck));
  EXPECT_EQ(line.text(), "conflict");
  line.Offer(kMsgError, "general");
  EXPECT_FALSE(line.ClearIfOwner(StatusOwner::kOptionConflict));
  EXPECT_EQ(line.text(), "general");
  line.Offer(kMsgError, "conflict", StatusOwner::kOptionConflict);
  EXPECT_TRUE(line.ClearIfOwner(StatusOwner::kOptionConflict));
  EXPECT_EQ(line.text(), "");
  EXPECT_TRUE(line.Offer(kMsgInfo, "after"));
}

TEST(StatusLine, PlacedCheckTextKeepsTheSeverityAndItsColour) {
  StatusLine line;
  line.Place("Options conflict", StatusOwner::kOptionConflict, true);
  EXPECT_EQ(line.text(), "Options conflict");
  EXPECT_TRUE(line.red());
  EXPECT_EQ(line.severity(), kMsgInfo);
  // The next information text takes the line as usual, and with it the colour and ownership.
  EXPECT_TRUE(line.Offer(kMsgInfo, "Saved"));
  EXPECT_FALSE(line.red());
  EXPECT_FALSE(line.ClearIfOwner(StatusOwner::kOptionConflict));
  // Over an error the text is shown all the same; the error's severity stays in force.
  line.Offer(kMsgError, "broken");
  line.Place("Options conflict", StatusOwner::kOptionConflict, true);
  EXPECT_EQ(line.text(), "Options conflict");
  EXPECT_FALSE(line.Offer(kMsgWarning, "warned"));
  EXPECT_TRUE(line.ClearIfOwner(StatusOwner::kOptionConflict));
  EXPECT_FALSE(line.red());
  EXPECT_TRUE(line.Offer(kMsgInfo, "after"));
}

// ---- Partner messages -------------------------------------------------------------------------

TEST(PartnerLink, CommandsAreRecognisedInOrderWithParameters) {
  struct Case {
    const char* text;
    int code;
    const char* parameters;
  };
  const Case cases[] = {
      {"/close", kPartnerCmdClose, ""},
      {"/closed", kPartnerCmdClosed, ""},
      {"/load \"x.clc\"", kPartnerCmdLoad, "\"x.clc\""},
      {"/loaded \"x.clc\"", kPartnerCmdLoaded, "\"x.clc\""},
      {"/save", kPartnerCmdSave, ""},
      {"/saved a b", kPartnerCmdSaved, "a b"},
      {"/loadX", kPartnerCmdLoad, ""},  // no blank after the word: parameters emptied
  };
  for (const Case& c : cases) {
    PartnerLink link;
    link.parameters = "old";
    EXPECT_EQ(ReceivePartnerMessage(link, 7, 0, c.text), 1) << c.text;
    EXPECT_EQ(link.command_code, c.code) << c.text;
    EXPECT_EQ(link.parameters, c.parameters) << c.text;
    EXPECT_FALSE(link.text_received) << c.text;
  }
}

TEST(PartnerLink, CommandWordsAreCaseSensitiveAndUnknownOnesChangeNothing) {
  PartnerLink link;
  link.command_code = kPartnerCmdSave;
  ReceivePartnerMessage(link, 7, 0, "/CLOSE");
  EXPECT_EQ(link.command_code, kPartnerCmdSave);
  ReceivePartnerMessage(link, 7, 0, "/whatever");
  EXPECT_EQ(link.command_code, kPartnerCmdSave);
  EXPECT_FALSE(link.text_received);
}

TEST(PartnerLink, MyWndSetsThePartnerUnlessZero) {
  PartnerLink link;
  ReceivePartnerMessage(link, 1, 0, "/mywnd=4711");
  EXPECT_EQ(link.partner_window, 4711);
  ReceivePartnerMessage(link, 1, 0, "/mywnd=0");
  EXPECT_EQ(link.partner_window, 4711);
  ReceivePartnerMessage(link, 1, 0, "/mywnd=99999999999999999999999999");  // hostile: no crash
  EXPECT_NE(link.partner_window, 0);
  EXPECT_EQ(link.command_code, kPartnerCmdNone);
}

TEST(PartnerLink, PlainTextsAndUserValuesAreReceivedText) {
  PartnerLink link;
  ReceivePartnerMessage(link, 1, 5, "/close");  // user value not 0: text, not a command
  EXPECT_TRUE(link.text_received);
  EXPECT_EQ(link.received_text, "/close");
  EXPECT_EQ(link.command_code, kPartnerCmdNone);
  ReceivePartnerMessage(link, 1, 0, "hello");
  EXPECT_EQ(link.received_text, "hello");
  ReceivePartnerMessage(link, 1, 0, std::string(400, 'x'));
  EXPECT_EQ(link.received_text.size(), kPartnerTextMax);
  // "can_msg " is a command that also clears the flag.
  ReceivePartnerMessage(link, 1, 0, "/can_msg  123 8 1 2");
  EXPECT_FALSE(link.text_received);
  EXPECT_EQ(link.command_code, kPartnerCmdCanMsg);
  EXPECT_EQ(link.parameters, "123 8 1 2");
}

TEST(PartnerLink, TextsSent) {
  EXPECT_EQ(PartnerMyWndText(12345), "/mywnd=12345");
  EXPECT_EQ(PartnerLoadedText("/home/u/logger.clc"), "/loaded \"/home/u/logger.clc\"");
  EXPECT_STREQ(kPartnerClosedText, "/closed");
}

// ---- Converter options chosen and shown ---------------------------------------------------------

TEST(ConverterChoices, UserValuesSurviveAFormatThatFixesThem) {
  ConverterChoices c;
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.output_file_format = kFormatCsvInternational;
  o.headlines = 2;
  o.graph_preview = true;
  c.Set(o, 0);
  EXPECT_EQ(c.shown().headlines, 2);
  // A format without headlines shows 0 and greys the field, but keeps the user's 2 ...
  ConverterOptions controls = c.shown();
  controls.output_file_format = kFormatVectorMdf;
  c.Edit(controls, 0);
  EXPECT_EQ(c.shown().headlines, 0);
  EXPECT_TRUE(c.check().headlines_disabled);
  EXPECT_EQ(c.chosen().headlines, 2);
  // ... which comes back with a format that leaves it free.
  controls = c.shown();
  controls.output_file_format = kFormatCsvInternational;
  c.Edit(controls, 0);
  EXPECT_EQ(c.shown().headlines, 2);
  EXPECT_EQ(c.shown().output_file_format, kFormatCsvInternational);
  // "graphic preview" is off while the output is not Signals, and back on with Signals.
  controls = c.shown();
  controls.output_type = OutputType::kMessages;
  c.Edit(controls, 0);
  EXPECT_FALSE(c.shown().graph_preview);
  EXPECT_FALSE(c.graph_preview_enabled());
  EXPECT_EQ(c.shown().output_file_format, kFormatCsvInternational);  // no jump to "Text"
  controls = c.shown();
  controls.output_type = OutputType::kSignals;
  c.Edit(controls, 0);
  EXPECT_TRUE(c.shown().graph_preview);
}

TEST(ConverterChoices, TheIntervalFieldShowsTheIntervalUsed) {
  ConverterChoices c;
  ConverterOptions o;
  o.output_type = OutputType::kSignals;
  o.write_interval = "0.000001";
  c.Set(o, 0);
  EXPECT_EQ(c.shown().write_interval, "0.0001");
  EXPECT_TRUE(c.check().write_interval_red);
  EXPECT_FALSE(c.check().box_text.empty());
  // Messages: a conversion takes the message rate limit (here 20 ms) for an interval below
  // 0.1 ms, and the field says so before.
  o.output_type = OutputType::kMessages;
  c.Set(o, 20);
  EXPECT_EQ(c.shown().write_interval, "0.02");
  EXPECT_TRUE(c.check().write_interval_red);
  o.write_interval = "0";  // every message
  c.Set(o, 20);
  EXPECT_EQ(c.shown().write_interval, "0");
  EXPECT_FALSE(c.check().write_interval_red);
  EXPECT_EQ(IntervalInWords(0.0001), "= 0.1 ms");
  EXPECT_EQ(IntervalInWords(2.5), "= 2.5 s");
  EXPECT_EQ(IntervalInWords(0), "");
}

// ---- Single instance ----------------------------------------------------------------------------

namespace fs = std::filesystem;

// A fresh folder below the system's temporary folder, removed afterwards.
class InstanceFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("tessmar-rules-" + std::to_string(::getpid()));
    fs::remove_all(base_);
    fs::create_directories(base_);
  }
  void TearDown() override { fs::remove_all(base_); }
  static mode_t Mode(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 0777;
  }
  fs::path base_;
  const unsigned uid_ = unsigned(::getuid());
};

TEST_F(InstanceFolders, RuntimeFolderOfTheUserElseOwnFolderInTemp) {
  std::string error;
  const fs::path runtime = base_ / "run";
  fs::create_directory(runtime);
  ::chmod(runtime.c_str(), 0700);
  EXPECT_EQ(UserRuntimeFolder(runtime.c_str(), base_.c_str(), uid_, &error), runtime);
  // Not usable: open to others, relative, missing, not set. Then "tessmar-<uid>" in TMPDIR,
  // made for the user alone.
  const fs::path own = base_ / ("tessmar-" + std::to_string(uid_));
  ::chmod(runtime.c_str(), 0755);
  for (const char* xdg :
       {runtime.c_str(), "run", "/no/such/folder", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(UserRuntimeFolder(xdg, base_.c_str(), uid_, &error), own) << (xdg ? xdg : "unset");
    EXPECT_EQ(Mode(own), 0700u);
  }
  // An existing one that others could enter is closed to them.
  ::chmod(own.c_str(), 0777);
  EXPECT_EQ(UserRuntimeFolder(nullptr, base_.c_str(), uid_, &error), own);
  EXPECT_EQ(Mode(own), 0700u);
}

TEST_F(InstanceFolders, SomebodyElsesFolderOrALinkIsRefused) {
  std::string error;
  const fs::path own = base_ / ("tessmar-" + std::to_string(uid_));
  fs::create_directory_symlink(base_, own);
  EXPECT_TRUE(UserRuntimeFolder(nullptr, base_.c_str(), uid_, &error).empty());
  EXPECT_NE(error.find("is not a folder of this user"), std::string::npos) << error;
  // Another user's folder (this part needs the right to give a folder away).
  fs::remove(own);
  fs::create_directory(own);
  if (::chown(own.c_str(), uid_ + 1, gid_t(-1)) == 0) {
    EXPECT_TRUE(UserRuntimeFolder(nullptr, base_.c_str(), uid_, &error).empty());
    // The same for a runtime folder of somebody else: the temporary folder is taken instead.
    EXPECT_TRUE(UserRuntimeFolder(own.c_str(), "/no/such/tmp", uid_, &error).empty());
  }
}

TEST_F(InstanceFolders, SecondStartHandsOverConfigurationsAndRecordingsAsAbsolutePaths) {
  std::ofstream(base_ / "a.cld") << "x";
  std::ofstream(base_ / "b.cld") << "x";
  const HandedFiles files =
      FilesToHandOver({"trip.clc", "/bm", "vehicle.dbc", "out.csv", "/data/x.CLD",
                       (base_ / "*.cld").string(), "notes.txt"},
                      base_);
  EXPECT_EQ(files.configs, std::vector<std::string>{(base_ / "trip.clc").string()});
  EXPECT_EQ(files.recordings, (std::vector<std::string>{"/data/x.CLD", (base_ / "a.cld").string(),
                                                        (base_ / "b.cld").string()}));
  EXPECT_TRUE(FilesToHandOver({"/bm", "vehicle.dbc"}, base_).empty());
}

TEST(HandedFiles, MessageRoundTripAndForeignMessagesAreRefused) {
  HandedFiles files;
  files.configs = {"/home/u/trip 1.clc"};
  files.recordings = {"/data/ä.cld", "/data/line\nbreak.cld"};
  const std::string message = EncodeHandedFiles(files);
  const std::optional<HandedFiles> back = DecodeHandedFiles(message);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->configs, files.configs);
  EXPECT_EQ(back->recordings, files.recordings);
  using namespace std::string_literals;
  for (const std::string& bad : {"GET / HTTP/1.0\r\n\r\n"s, message.substr(0, message.size() - 1),
                                 "TESSMAR-OPEN\0Xrel.cld\0"s, "TESSMAR-OPEN\0Drelative.cld\0"s,
                                 "TESSMAR-OPEN\0D\0"s, "TESSMAR-OPEN\0\0"s}) {
    EXPECT_FALSE(DecodeHandedFiles(bad).has_value()) << bad;
  }
  EXPECT_TRUE(DecodeHandedFiles("TESSMAR-OPEN\0"s)->empty());
}

}  // namespace
}  // namespace tessmar
