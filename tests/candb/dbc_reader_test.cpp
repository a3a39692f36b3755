// DBC reader and CAN database model: scanner, statement parsers, error texts, message index.

#include "candb/dbc_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "candb/candb.h"
#include "candb/signal_table.h"
#include "common/message_output.h"
#include "tests/candb/candb_test_util.h"

namespace tessmar {

// Readable failures: "line 4 kind 1: No message found for comment line".
void PrintTo(const DbcProblem& p, std::ostream* os) {
  *os << "line " << p.line << " kind " << static_cast<int>(p.kind) << ": " << p.text;
}

namespace {

using testing_util::DbcFile;
using Kind = DbcProblemKind;

// The messages a read logged, rebuilt from its typed problems: both must tell the same story.
// (An attribute value without definition is logged without the line prefix; an attribute default
// without definition, which has the prefix, ends the read and is not in these inputs.)
std::vector<std::string> ProblemMessages(const DbcReadResult& read) {
  std::vector<std::string> out;
  for (const DbcProblem& p : read.problems) {
    if (p.text.starts_with("Attribute '") && p.text.ends_with("' not found")) {
      out.push_back(p.text + "\n");
    } else {
      out.push_back(StrPrintf(IsError(p.kind) ? "CANdb-Import-Error (line %d): %s"
                                              : "CANdb-Import-Warning (line %d): %s",
                              static_cast<int>(p.line), p.text.c_str()));
    }
  }
  return out;
}

std::vector<std::string> LoggedMessages(const MessageCapture& cap, std::size_t count = SIZE_MAX) {
  std::vector<std::string> out;
  for (const auto& e : cap.entries()) {
    if (out.size() < count) out.push_back(e.text);
  }
  return out;
}

const CANdbSignal* Sig(CANdb& db, uint32_t id, const char* name) {
  CANdbMessage* m = db.FindMessageById(id);
  return m ? m->FindSignalByName(name) : nullptr;
}

// ---- Model --------------------------------------------------------------------------------------

TEST(CANdbModel, MessageIndexBucketsAndLookupOrder) {
  CANdb db;
  const auto add = [&db](uint32_t id, bool ext, const char* name) {
    auto m = std::make_unique<CANdbMessage>();
    m->SetIdentifier(id);
    m->SetExtended(ext);
    m->SetName(name);
    return db.AddMessage(std::move(m));
  };
  CANdbMessage* m5 = add(5, false, "m5");
  CANdbMessage* m2053 = add(2053, false, "m2053");  // same bucket as 5
  EXPECT_EQ(db.FindMessageById(5), m5);
  EXPECT_EQ(db.FindMessageById(2053), m2053);
  EXPECT_EQ(db.FindMessageById(4101), nullptr);

  CANdbMessage* std123 = add(0x123, false, "std");
  CANdbMessage* ext123 = add(0x123, true, "ext");
  EXPECT_EQ(db.FindMessageById(0x80000123u), ext123);  // bit 31 finds only extended messages
  EXPECT_EQ(db.FindMessageById(0x123), std123);        // the bucket's own entry comes first

  // Within a bucket: its own entry first, then the newest chain entry before older ones.
  CANdbMessage* first = add(7, true, "first");
  add(7 + 2048, false, "other");
  CANdbMessage* newer = add(7, false, "newer");
  EXPECT_EQ(db.FindMessageById(7), first);
  EXPECT_EQ(db.FindMessageById(0x80000007u), first);
  (void)newer;
  // When the bucket's own message does not match, the newest matching chain entry is found.
  add(9, false, "own");
  add(2057, false, "b");
  CANdbMessage* c = add(2057, true, "c");
  CANdbMessage* d = add(2057, false, "d");
  EXPECT_EQ(db.FindMessageById(2057), d);
  EXPECT_EQ(db.FindMessageById(0x80000809u), c);
  EXPECT_EQ(db.FindMessageById(0x80000009u), nullptr);

  // The list keeps insertion order.
  ASSERT_GE(db.messages().size(), 2u);
  EXPECT_EQ(db.messages()[0].get(), m5);
  EXPECT_EQ(db.messages()[1].get(), m2053);
}

TEST(CANdbModel, SignalLookupInLargeMessagesFindsTheFirstOfAName) {
  CANdbMessage m;
  const auto add = [&m](const std::string& name) {
    auto s = std::make_unique<CANdbSignal>();
    s->SetName(name);
    return m.AddSignal(std::move(s));
  };
  for (int i = 0; i < 40; ++i) add("S" + std::to_string(i));
  CANdbSignal* late = add("S5");
  EXPECT_EQ(m.FindSignalByName("S5"), m.signals()[5].get());
  EXPECT_EQ(m.FindSignalByName("S39"), m.signals()[39].get());
  CANdbSignal* added = add("Later");
  EXPECT_EQ(m.FindSignalByName("Later"), added);
  EXPECT_EQ(m.FindSignalByName("s5"), nullptr);
  EXPECT_NE(late, nullptr);
}

TEST(CANdbModel, ValueDescriptionsKeepTheFirstText) {
  CANdbSignal s;
  EXPECT_EQ(s.AddValueDesc(1, "On"), 0);
  EXPECT_EQ(s.AddValueDesc(0, "Off"), 0);
  EXPECT_EQ(s.AddValueDesc(1, "Again"), -1);
  EXPECT_EQ(s.AddValueDesc(2, ""), -1);
  ASSERT_NE(s.FindValueDesc(1), nullptr);
  EXPECT_EQ(*s.FindValueDesc(1), "On");
  EXPECT_EQ(s.value_desc_count(), 2);
}

// ---- Reader: numbers, signals, statements -------------------------------------------------------

TEST(DbcReader, MessagesSignalsAndStartBits) {
  DbcFile f(
      "VERSION \"\"\n"
      "NS_ :\n\tCM_\n\tBA_DEF_\n\tBA_\n\tVAL_\n\tSIG_VALTYPE_\n\n"
      "BS_:\n"
      "BU_: A B\n"
      "VAL_TABLE_ T1 1 \"one\" ;\n"
      "BO_ 2364540158 EEC1: 8 A\n"
      " SG_ Moto : 7|16@0+ (0.1,-40) [-3.4E+38|3.4E+38] \"rpm\" B,A\n"
      " SG_ Intel : 8|16@1- (1,0) [0|100] \"\" Vector__XXX\n"
      " SG_ Nib : 15|12@0+ (1,0) [0|0] \"\" B\n"
      " SG_ One : 0|1@0+ (.25,+5) [0|+127] \"\" B\n"
      "BO_ 100 Std: 8 B\n"
      " SG_ Sw M : 0|4@1+ (1,0) [0|15] \"\" A\n"
      " SG_ Mx m3 : 8|8@1+ (1,0) [0|0] \"\" A\n"
      " SG_ Mb m : 16|8@1+ (1,0) [0|0] \"\" A\n"
      " SG_ Mc m3M : 24|8@1+ (1,0) [0|0] \"\" A\n"
      " SG_ Big : 32|32@1+ (1,0) [0|18446744073709551615] \"\" A\n");
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  EXPECT_TRUE(db.loaded());
  EXPECT_EQ(cap.CountAtLeast(kMsgWarning), 0)
      << (cap.entries().empty() ? "" : cap.entries()[0].text);

  // The node list runs on into the VAL_TABLE_ statement.
  ASSERT_EQ(db.nodes().size(), 4u);
  EXPECT_EQ(db.nodes()[2]->name(), "VAL_TABLE_");
  EXPECT_EQ(db.nodes()[3]->name(), "T1");

  ASSERT_EQ(db.message_count(), 2);
  const CANdbMessage& eec1 = *db.messages()[0];
  EXPECT_EQ(eec1.identifier(), 0x0CF004FEu);
  EXPECT_TRUE(eec1.extended());
  EXPECT_EQ(eec1.sender(), "A");
  EXPECT_EQ(eec1.dlc(), 8);
  const CANdbMessage& std_msg = *db.messages()[1];
  EXPECT_EQ(std_msg.identifier(), 100u);
  EXPECT_FALSE(std_msg.extended());

  const CANdbSignal* moto = Sig(db, 0x8CF004FEu, "Moto");
  ASSERT_NE(moto, nullptr);
  EXPECT_EQ(moto->start_bit(), 8);
  EXPECT_EQ(moto->length(), 16);
  EXPECT_TRUE(moto->motorola());
  EXPECT_EQ(moto->value_type(), CANdbValueType::kUnsigned);
  EXPECT_DOUBLE_EQ(moto->factor(), 0.1);
  EXPECT_DOUBLE_EQ(moto->offset(), -40.0);
  EXPECT_DOUBLE_EQ(moto->minimum(), -3.4e38);
  EXPECT_DOUBLE_EQ(moto->maximum(), 3.4e38);
  EXPECT_EQ(moto->unit(), "rpm");
  ASSERT_EQ(moto->receivers().size(), 2u);
  EXPECT_EQ(moto->receivers()[1].name(), "A");
  EXPECT_EQ(moto->message(), &eec1);

  const CANdbSignal* intel = Sig(db, 0x8CF004FEu, "Intel");
  EXPECT_EQ(intel->start_bit(), 8);
  EXPECT_FALSE(intel->motorola());
  EXPECT_EQ(intel->value_type(), CANdbValueType::kSigned);
  EXPECT_EQ(Sig(db, 0x8CF004FEu, "Nib")->start_bit(), 20);
  const CANdbSignal* one = Sig(db, 0x8CF004FEu, "One");
  EXPECT_EQ(one->start_bit(), 0);
  EXPECT_DOUBLE_EQ(one->factor(), 0.25);
  EXPECT_DOUBLE_EQ(one->offset(), 5.0);
  EXPECT_DOUBLE_EQ(one->maximum(), 127.0);

  EXPECT_TRUE(Sig(db, 100, "Sw")->is_multiplexer());
  EXPECT_FALSE(Sig(db, 100, "Sw")->is_multiplexed());
  EXPECT_EQ(Sig(db, 100, "Mx")->multiplexer_value(), 3);
  EXPECT_EQ(Sig(db, 100, "Mb")->multiplexer_value(), 0);
  EXPECT_EQ(Sig(db, 100, "Mc")->multiplexer_value(), 3);
  EXPECT_FALSE(Sig(db, 100, "Mc")->is_multiplexer());
  EXPECT_DOUBLE_EQ(Sig(db, 100, "Big")->maximum(), 18446744073709551615.0);
}

TEST(DbcReader, CommentsValueTypesAndValueDescriptions) {
  DbcFile f(
      "BU_: N\n"
      "BO_ 1 M1: 8 N\n"
      " SG_ S64 : 0|64@1- (1,0) [0|0] \"\" N\n"
      " SG_ S32 : 0|32@1- (1,0) [0|0] \"\" N\n"
      " SG_ D32 : 0|32@1- (1,0) [0|0] \"\" N\n"
      " SG_ I32 : 0|32@1- (1,0) [0|0] \"\" N\n"
      "CM_ \"database \"\"quoted\"\" \\n text\";\n"
      "CM_ BO_ 1 \"message\ncomment\";\n"
      "CM_ SG_ 1 S64 \"first\";\n"
      "CM_ SG_ 1 S64 \"second\";\n"
      "CM_ BU_ N \"node comment ; with semicolon\";\n"
      "SIG_VALTYPE_ 1 S64 : 1;\n"
      "SIG_VALTYPE_ 1 S32 : 1;\n"
      "SIG_VALTYPE_ 1 D32 : 2;\n"
      "SIG_VALTYPE_ 1 I32 : 0;\n"
      "VAL_ 1 S32 1 \"On\" 0 \"Off\" 1 \"Again\" ;\n"
      "VAL_ 1 I32 ;\n"
      "VAL_ envvar 1 \"x\" ;\n");
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  EXPECT_EQ(cap.CountAtLeast(kMsgWarning), 0)
      << (cap.entries().empty() ? "" : cap.entries()[0].text);
  ASSERT_TRUE(db.comment().has_value());
  EXPECT_EQ(*db.comment(), "database \"quoted\" \n text");
  EXPECT_EQ(*db.FindMessageById(1)->comment(), "message\ncomment");
  EXPECT_EQ(*Sig(db, 1, "S64")->comment(), "second");
  EXPECT_EQ(Sig(db, 1, "S64")->value_type(), CANdbValueType::kDouble);
  EXPECT_EQ(Sig(db, 1, "S32")->value_type(), CANdbValueType::kFloat);
  EXPECT_EQ(Sig(db, 1, "D32")->value_type(), CANdbValueType::kDouble);
  EXPECT_EQ(Sig(db, 1, "I32")->value_type(), CANdbValueType::kSigned);
  const CANdbSignal* s32 = Sig(db, 1, "S32");
  ASSERT_EQ(s32->value_desc_count(), 2);
  EXPECT_EQ(*s32->FindValueDesc(1), "On");
  EXPECT_EQ(*s32->FindValueDesc(0), "Off");
}

TEST(DbcReader, StringEscapesAndScannerCorners) {
  // A backslash before another character stays; \\n is a backslash pair followed by 'n'-escape.
  DbcFile f(std::string("BU_: N\n"
                        "/* block ** comment\n over lines **/\n"
                        "BO_ 0x10 Hex: 8 N\n"
                        " SG_ A : 0|8@1+ (1,0) [0|0] \"a\\qb\\\\nc\" N\n"
                        "BO_ 123 4abc: 8 N\n"
                        "CM_ SG_ 16 A \"\xe4\xff\";\n") +
            "\x80\x81 BO_ 200 Hi: 8 N\n");
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  ASSERT_NE(db.FindMessageById(16), nullptr);
  const CANdbSignal* a = Sig(db, 16, "A");
  EXPECT_EQ(a->unit(), "a\\qb\\\nc");
  // 0xFF inside a string is a character, not the end of the input.
  EXPECT_EQ(*a->comment(), "\xe4\xff");
  ASSERT_NE(db.FindMessageById(123), nullptr);  // digits followed by letters make a name
  EXPECT_EQ(db.FindMessageById(123)->name(), "4abc");
  EXPECT_NE(db.FindMessageById(200), nullptr);  // bytes 0x80.. between tokens are blanks
}

TEST(DbcReader, HugeBitPositionsAndLengthsDoNotWrap) {
  // 4294967304 is 2^32 + 8: its low 32 bits would make a signal at bit 8 of length 8.
  DbcFile f(
      "BU_: N\nBO_ 1 A: 8 N\n"
      " SG_ Big : 4294967304|4294967304@1+ (1,0) [0|0] \"\" N\n"
      " SG_ Neg : -4294967288|8@1+ (1,0) [0|0] \"\" N\n");
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  const CANdbSignal* big = Sig(db, 1, "Big");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->start_bit(), 2147483647);
  EXPECT_EQ(big->length(), 2147483647);
  const CANdbSignal* neg = Sig(db, 1, "Neg");
  ASSERT_NE(neg, nullptr);
  EXPECT_EQ(neg->start_bit(), -2147483647 - 1);
}

TEST(DbcReader, ByteFFOutsideStringEndsInput) {
  DbcFile f(std::string("BU_: N\nBO_ 1 A: 8 N\n\xff\nBO_ 2 B: 8 N\n"));
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  EXPECT_EQ(db.message_count(), 1);
}

TEST(DbcReader, HexNumbersAreSignExtended32BitValues) {
  DbcFile f(
      "BU_: N\n"
      "BA_DEF_ BO_ \"H\" HEX 0x0 0xFFFFFFFF;\n"
      "BA_DEF_ \"I\" INT -0x10 0x7FFFFFFF;\n");
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  ASSERT_EQ(db.attr_defs().size(), 2u);
  EXPECT_EQ(db.attr_defs()[0]->int_max(), -1);
  EXPECT_EQ(db.attr_defs()[1]->int_min(), -16);
  EXPECT_EQ(db.attr_defs()[1]->int_max(), 0x7FFFFFFF);
}

TEST(DbcReader, AttributesDefinitionsDefaultsAndValues) {
  DbcFile f(
      "BU_: N1 N2\n"
      "BO_ 2147483905 Ext: 8 N1\n"
      " SG_ S : 0|8@1+ (1,0) [0|0] \"\" N2\n"
      "BA_DEF_ \"DbInt\" INT 0 100;\n"
      "BA_DEF_ BU_ \"NodeStr\" STRING ;\n"
      "BA_DEF_ BO_ \"Cycle\" INT -9.22337203685478E+018 1.84467440737096E+019;\n"
      "BA_DEF_ SG_ \"Kind\" ENUM \"A\",\"B\",\"C\";\n"
      "BA_DEF_ SG_ \"Scale\" FLOAT -1.5 2;\n"
      "BA_DEF_ EV_ \"Odd\" WEIRD 1 2 3;\n"
      "BA_DEF_DEF_ \"DbInt\" 7;\n"
      "BA_DEF_DEF_ \"NodeStr\" \"dflt\";\n"
      "BA_DEF_DEF_ \"Kind\" \"Z\";\n"
      "BA_DEF_DEF_ \"Scale\" 1;\n"
      "BA_ \"DbInt\" 42;\n"
      "BA_ \"NodeStr\" BU_ N2 \"hello\";\n"
      "BA_ \"Cycle\" BO_ 2147483905 100;\n"
      "BA_ \"Cycle\" BO_ 999 100;\n"
      "BA_ \"Kind\" SG_ 2147483905 S 2;\n"
      "BA_ \"Nope\" BO_ 2147483905 1 ;\n"
      "BA_ \"Scale\" SG_ 257 S 0.5;\n");
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  ASSERT_EQ(db.attr_defs().size(), 6u);
  const CANdbAttributeDefinition* cycle = db.FindAttrDef("Cycle");
  EXPECT_EQ(cycle->owner(), CANdbAttributeOwner::kMessage);
  EXPECT_EQ(cycle->int_min(), INT32_MIN);
  EXPECT_EQ(cycle->int_max(), INT32_MAX);
  EXPECT_EQ(db.FindAttrDef("Odd")->type(), CANdbAttributeType::kInvalid);
  EXPECT_EQ(db.FindAttrDef("DbInt")->int_default(), 7);
  EXPECT_EQ(*db.FindAttrDef("NodeStr")->default_text(), "dflt");
  EXPECT_EQ(db.FindAttrDef("Kind")->int_default(), -1);
  EXPECT_EQ(db.FindAttrDef("Kind")->enum_items().size(), 3u);
  EXPECT_DOUBLE_EQ(db.FindAttrDef("Scale")->float_min(), -1.5);

  ASSERT_EQ(db.attributes().values().size(), 1u);
  EXPECT_EQ(db.attributes().values()[0].int_value(), 42);
  EXPECT_EQ(db.FindNode("N2")->attributes().values()[0].text(), "hello");
  const CANdbMessage* ext = db.FindMessageById(0x80000101u);
  ASSERT_EQ(ext->attributes().values().size(), 1u);
  EXPECT_EQ(ext->attributes().values()[0].int_value(), 100);
  const CANdbSignal* s = ext->FindSignalByName("S");
  ASSERT_EQ(s->attributes().values().size(), 2u);
  EXPECT_EQ(s->attributes().values()[0].int_value(), 2);
  EXPECT_DOUBLE_EQ(s->attributes().values()[1].double_value(), 0.5);

  EXPECT_TRUE(cap.Contains("CANdb-Import-Warning (line 17): Message 999 not found"));
  // Without definition: logged without the line prefix, the statement is skipped.
  bool plain = false;
  for (const auto& e : cap.entries()) plain |= e.text == "Attribute 'Nope' not found\n";
  EXPECT_TRUE(plain);
}

// ---- Reader: errors -----------------------------------------------------------------------------

struct ErrorCase {
  const char* name;
  std::string text;
  const char* message;  // expected logged text
  int messages_kept;
};

TEST(DbcReader, StatementErrorsEndTheReadWithTheirMessage) {
  const std::string head = "BU_: N\nBO_ 1 Good: 8 N\n SG_ G : 0|8@1+ (1,0) [0|0] \"\" N\n";
  const std::string tail = "BO_ 3 Later: 8 N\n";
  const ErrorCase cases[] = {
      {"unit", head + "BO_ 2 Bad: 8 N\n SG_ A : 0|8@1+ (1,0) [0|0] N\n" + tail,
       "CANdb-Import-Error (line 5): Signal unit expected", 1},
      {"plus", head + "BO_ 2 Bad: 8 N\n SG_ A : 0|8@1* (1,0) [0|0] \"\" N\n" + tail,
       "CANdb-Import-Error (line 5): '+' or '-' expected", 1},
      {"id", head + "BO_ X Bad: 8 N\n" + tail, "CANdb-Import-Error (line 4): CAN id expected", 1},
      {"dlc", head + "BO_ 2 Bad: N\n" + tail, "CANdb-Import-Error (line 4): DLC expected", 1},
      // A number the scanner rejects is reported by the statement that expected a token there.
      {"number", head + "BO_ 12x Bad: 8 N\n" + tail, "CANdb-Import-Error (line 4): CAN id expected",
       1},
      {"bitpos", head + "BO_ 2 Bad: 8 N\n SG_ A : 7x|8@1+ (1,0) [0|0] \"\" N\n" + tail,
       "CANdb-Import-Error (line 5): Signal bit position expected", 1},
      {"factor", head + "BO_ 2 Bad: 8 N\n SG_ A : 0|8@1+ (1x,0) [0|0] \"\" N\n" + tail,
       "CANdb-Import-Error (line 5): Factor expected", 1},
      {"cmnumber", head + "CM_ BO_ -1x \"c\";\n" + tail,
       "CANdb-Import-Error (line 4): Id expected for message comment", 1},
      {"typenumber", head + "SIG_VALTYPE_ 1 G : -1x;\n" + tail,
       "CANdb-Import-Error (line 4): Number expected for signal type", 1},
      // Where no statement expects a number, the bad number itself is named.
      {"skipped", head + "BS_: -12x\n" + tail,
       "CANdb-Import-Error (line 4): Invalid number \"-12x\"", 1},
      // An open comment where the id should be is reported once, by the scanner.
      {"idcomment", head + "BO_ /* open\n",
       "CANdb-Import-Error (line 5): Error: Unexpected eof in comment", 1},
      {"comment", head + "/* open\n\n",
       "CANdb-Import-Error (line 6): Error: Unexpected eof in comment", 1},
      {"attrdef", head + "BA_DEF_ \"x\" INT a b;\n" + tail,
       "CANdb-Import-Error (line 4): Attribute min value expected", 1},
      {"default", head + "BA_DEF_DEF_ \"none\" 1;\n" + tail,
       "CANdb-Import-Error (line 4): Attribute 'none' not found\n", 1},
      // (A missing ';' before a statement on the next line is only a warning.)
      {"attrsemi", head + "BA_DEF_ \"x\" STRING;\nBA_ \"x\" \"v\" 3\n" + tail,
       "CANdb-Import-Error (line 5): ';' expected (attribute value)", 1},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    DbcFile f(c.text);
    MessageCapture cap;
    CANdb db;
    EXPECT_EQ(db.LoadDbcFile(f.path()), 0);
    EXPECT_TRUE(db.loaded());
    EXPECT_EQ(db.message_count(), c.messages_kept);
    ASSERT_EQ(cap.CountAtLeast(kMsgError), 1);
    EXPECT_EQ(cap.entries()[0].text, c.message);
  }
}

TEST(DbcReader, CommentAndValueErrorsDoNotEndTheRead) {
  DbcFile f(
      "BU_: N\n"
      "BO_ 1 M: 8 N\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n"
      "CM_ BO_ 9 \"x\";\n"
      "CM_ SG_ -2147483647 S \"x\";\n"
      "CM_ SG_ 1 Nope \"x\";\n"
      "SIG_VALTYPE_ 9 S : 1;\n"
      "VAL_ 9 S 1 \"a\" ;\n"
      "VAL_ 1 S 1 2 ;\n"
      "BO_ 2 After: 8 N\n");
  MessageCapture cap;
  CANdb db;
  const DbcReadResult read = DbcReader(db).ReadFile(f.path());
  ASSERT_EQ(read.status, 0);
  EXPECT_EQ(db.message_count(), 2);
  EXPECT_EQ(read.problems,
            (std::vector<DbcProblem>{
                {4, Kind::kUnknownName, "No message found for comment line"},
                {5, Kind::kUnknownName, "Message (id=-2147483647) found for comment line"},
                {6, Kind::kUnknownName, "Signal not found"},
                {7, Kind::kUnknownName, "Message (id=9) found for type info"},
                {8, Kind::kUnknownName, "Message (id=9) NOT found for type info"},
                {9, Kind::kSyntaxError, "String expected for signal value"}}));
  EXPECT_EQ(LoggedMessages(cap), ProblemMessages(read));
}

TEST(DbcReader, WarningsComeBackTypedWithTheirLines) {
  const std::string text =
      "BU_: N\n"
      "BO_ 1 M: 8\n"
      " SG_ S : 0|8@1+ (1,0) [0|0] \"\" N \"stray\n"
      "bo_ 5 X: 8 N\n"
      "CM_ BO_ 1 \"c\"\n"
      "BA_DEF_ BO_ \"A\" INT 0 9;\n"
      "BA_ \"A\" BO_ 77 1;\n"
      "BA_ \"Nope\" 3;\n"
      "BO_ 2 Q: 8 N\n SG_ T : 0|8@1+ (1,0) [0|0] N\n"
      "BO_ 3 Never: 8 N\n";
  MessageCapture cap;
  CANdb db;
  const DbcReadResult read = DbcReader(db).ReadText(text, "memory.dbc");
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.statement_count, 7);  // "bo_" is no statement
  EXPECT_EQ(db.path(), "memory.dbc");
  EXPECT_TRUE(db.loaded());
  ASSERT_EQ(db.message_count(), 1);
  EXPECT_EQ(*db.messages()[0]->comment(), "c");
  EXPECT_EQ(
      read.problems,
      (std::vector<DbcProblem>{
          {3, Kind::kMissingSender, "Sender name expected"},
          {3, Kind::kStrayQuote, "'\"' without its closing '\"' ignored up to the end of the line"},
          {4, Kind::kNotAKeyword, "'bo_' is not a keyword (upper case expected); line skipped"},
          {6, Kind::kMissingSemicolon, "';' missing before line 6"},
          {7, Kind::kUnknownMessage, "Message 77 not found"},
          {8, Kind::kUnknownName, "Attribute 'Nope' not found"},
          {10, Kind::kSyntaxError, "Signal unit expected"}}));
  EXPECT_EQ(LoggedMessages(cap), ProblemMessages(read));
}

TEST(DbcReader, FilesThatCannotBeOpenedOrReadGiveMinusOne) {
  MessageCapture cap;
  CANdb missing;
  const DbcReadResult none = DbcReader(missing).ReadFile("/nonexistent/dir/x.dbc");
  EXPECT_EQ(none.status, -1);
  EXPECT_TRUE(none.problems.empty());
  EXPECT_FALSE(missing.loaded());

  // A folder opens but cannot be read: a read failure, not an empty database.
  DbcFile f("");
  const std::string folder = std::filesystem::path(f.path()).parent_path().string();
  CANdb db;
  const DbcReadResult read = DbcReader(db).ReadFile(folder);
  EXPECT_EQ(read.status, -1);
  EXPECT_FALSE(db.loaded());
  EXPECT_EQ(read.problems, (std::vector<DbcProblem>{{1, Kind::kReadFailure,
                                                     "Could not read \"" + folder + "\" (" +
                                                         std::strerror(EISDIR) + ") !"}}));
  EXPECT_EQ(LoggedMessages(cap), ProblemMessages(read));
}

TEST(DbcReader, MissingColonAfterNodeListAndMissingFileFail) {
  {
    DbcFile f("BU_ N1 N2\nBO_ 1 M: 8 N1\n");
    MessageCapture cap;
    CANdb db;
    EXPECT_EQ(db.LoadDbcFile(f.path()), -1);
    EXPECT_TRUE(cap.Contains("CANdb-Import-Error (line 1): ':' expected"));
    EXPECT_EQ(db.message_count(), 0);
  }
  MessageCapture cap;
  CANdb db;
  EXPECT_EQ(db.LoadDbcFile("/nonexistent/dir/x.dbc"), -1);
  EXPECT_FALSE(db.loaded());
  EXPECT_EQ(db.message_count(), 0);
  EXPECT_TRUE(cap.entries().empty());
}

TEST(DbcReader, EndInsideStringAndOverlongTokensStaySafe) {
  const std::string long_name(5000, 'n');
  const std::string long_number(3000, '9');
  DbcFile f("BU_: " + long_name + "\nBA_DEF_ \"x\" FLOAT " + long_number +
            " 1;\nCM_ \"unterminated " + std::string(4000, 'x'));
  MessageCapture cap;
  CANdb db;
  EXPECT_EQ(db.LoadDbcFile(f.path()), 0);
  ASSERT_EQ(db.nodes().size(), 1u);
  EXPECT_EQ(db.nodes()[0]->name().size(), 998u);
  ASSERT_EQ(db.attr_defs().size(), 1u);
  EXPECT_GT(db.attr_defs()[0]->float_min(), 1e300);
  ASSERT_TRUE(db.comment().has_value());
  EXPECT_EQ(db.comment()->size(), 998u);
  EXPECT_TRUE(cap.Contains("CANdb-Import-Error (line 3): Error: Unexpected eof in string"));
}

// ---- Real-world variants ------------------------------------------------------------------------

TEST(DbcReader, NamesBeginningWithDigitsLoad) {
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile((testing_util::CorpusDir() / "real_world/digit_names.dbc").string()), 0);
  EXPECT_EQ(cap.CountAtLeast(kMsgWarning), 0)
      << (cap.entries().empty() ? "" : cap.entries()[0].text);
  ASSERT_EQ(db.nodes().size(), 3u);
  EXPECT_EQ(db.nodes()[0]->name(), "1ECU");
  EXPECT_EQ(db.nodes()[2]->name(), "2nd_gateway");
  ASSERT_EQ(db.message_count(), 2);
  EXPECT_EQ(db.messages()[0]->name(), "2017_5");
  EXPECT_EQ(db.messages()[0]->identifier(), 1275u);
  EXPECT_EQ(db.messages()[1]->sender(), "1ECU");

  const CANdbSignal* le = Sig(db, 1275, "64_BIT_LE");
  ASSERT_NE(le, nullptr);
  EXPECT_EQ(le->length(), 16);
  EXPECT_DOUBLE_EQ(le->factor(), 0.1);
  ASSERT_TRUE(le->comment().has_value());
  EXPECT_EQ(*le->comment(), "Speed with a numbered name");
  const CANdbSignal* flag = Sig(db, 1275, "3E_FLAG");  // not the number 3e
  ASSERT_NE(flag, nullptr);
  EXPECT_EQ(flag->start_bit(), 16);
  ASSERT_NE(Sig(db, 1275, "Temp2"), nullptr);
  ASSERT_NE(Sig(db, 1276, "7e"), nullptr);
  const CANdbSignal* level = Sig(db, 1276, "Level");
  ASSERT_NE(level, nullptr);
  EXPECT_DOUBLE_EQ(level->factor(), 0.25);
}

TEST(DbcReader, NumbersStayNumbersNextToNamesWithDigits) {
  // Exponents, hexadecimal and signed numbers keep their meaning; "12abc" where a number belongs
  // is a name and so an error of that statement.
  DbcFile f(
      "BO_ 0x10 A: 8 N\n SG_ S : 0|8@1+ (1e2,-3E-1) [+2|2E+1] \"\" N\n"
      "BO_ 12abc B: 8 N\n");
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(f.path()), 0);
  const CANdbSignal* s = Sig(db, 16, "S");
  ASSERT_NE(s, nullptr);
  EXPECT_DOUBLE_EQ(s->factor(), 100.0);
  EXPECT_DOUBLE_EQ(s->offset(), -0.3);
  EXPECT_DOUBLE_EQ(s->maximum(), 20.0);
  EXPECT_EQ(db.message_count(), 1);
  EXPECT_TRUE(cap.Contains("CANdb-Import-Error (line 3): CAN id expected"));
}

TEST(DbcReader, MissingSemicolonEndsStatementAtNextLineKeyword) {
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(
      db.LoadDbcFile((testing_util::CorpusDir() / "real_world/missing_semicolons.dbc").string()),
      0);
  // Every message and signal after a statement without ';' is there.
  ASSERT_EQ(db.message_count(), 4);
  for (const auto& [id, name] : std::vector<std::pair<uint32_t, const char*>>{{100, "Range"},
                                                                              {100, "Angle"},
                                                                              {101, "Speed"},
                                                                              {102, "Status"},
                                                                              {102, "Quality"},
                                                                              {103, "Count"}}) {
    EXPECT_NE(Sig(db, id, name), nullptr) << name;
  }
  ASSERT_TRUE(db.comment().has_value());
  EXPECT_EQ(*db.comment(), "Front target");
  EXPECT_EQ(Sig(db, 101, "Speed")->value_descs().size(), 1u);
  ASSERT_TRUE(Sig(db, 103, "Count")->comment().has_value());
  EXPECT_EQ(db.messages()[2]->attributes().values().size(), 1u);
  EXPECT_TRUE(cap.Contains("CANdb-Import-Warning (line 6): ';' missing before line 6"));
  EXPECT_TRUE(cap.Contains("CANdb-Import-Warning (line 16): ';' missing before line 16"));
  EXPECT_TRUE(cap.Contains("CANdb-Import-Warning (line 21): ';' missing before line 21"));
  EXPECT_EQ(cap.CountAtLeast(kMsgError), 0) << cap.entries().back().text;

  // Keywords inside a line (a comment about a message) do not end the statement.
  DbcFile inside(
      "BO_ 5 M: 8 N\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n"
      "BA_DEF_ \"A\" INT 0 1;\nBA_ \"Unknown\" BO_ 5 1;\nCM_ BO_ 5 \"x\";\n");
  MessageCapture cap2;
  CANdb db2;
  const DbcReadResult read = DbcReader(db2).ReadFile(inside.path());
  ASSERT_EQ(read.status, 0);
  for (const DbcProblem& p : read.problems) EXPECT_NE(p.kind, Kind::kMissingSemicolon) << p.text;
  ASSERT_TRUE(db2.messages()[0]->comment().has_value());
}

// Every signal of a database, one line each: message identifier and name, signal name, stored
// start bit|length and byte order, value type, (factor,offset) [min|max] and unit.
std::string SignalLines(const CANdb& db) {
  std::string out;
  for (const auto& m : db.messages()) {
    for (const auto& s : m->signals()) {
      out += StrPrintf("%X %s %s %d|%d%c %s (%.6g,%.6g) [%.6g|%.6g] \"%s\"\n", m->identifier(),
                       m->name().c_str(), s->name().c_str(), s->start_bit(), s->length(),
                       s->motorola() ? 'M' : 'I', ValueTypeName(s->value_type()), s->factor(),
                       s->offset(), s->minimum(), s->maximum(), s->unit().c_str());
    }
  }
  return out;
}

std::string RealWorld(const char* name) {
  return (testing_util::CorpusDir() / "real_world" / name).string();
}

// The warnings of a load, one per line, without the program's prefix.
std::string Warnings(const MessageCapture& cap) {
  std::string out;
  for (const auto& e : cap.entries()) out += e.text + "\n";
  return out;
}

TEST(DbcReader, StrayQuotesAreSkippedToTheEndOfTheirLine) {
  // A quote where no string can stand (after node names or receivers, after a comment's text)
  // and without its closing quote on that line used to swallow every statement up to the next
  // quote somewhere below.
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(RealWorld("stray_quotes.dbc")), 0);
  ASSERT_EQ(db.nodes().size(), 3u);
  EXPECT_EQ(db.nodes()[2]->name(), "Dash");
  EXPECT_EQ(SignalLines(db),
            "14 WheelSpeeds FrontLeft 8|16M UNSIGNED (0.01,0) [0|655.35] \"km/h\"\n"
            "14 WheelSpeeds FrontRight 24|16M UNSIGNED (0.01,0) [0|655.35] \"km/h\"\n"
            "14 WheelSpeeds RearLeft 40|16M UNSIGNED (0.01,0) [0|655.35] \"km/h\"\n"
            "15 Lane LeftLine 0|2I UNSIGNED (1,0) [0|3] \"\"\n"
            "15 Lane RightLine 2|2I UNSIGNED (1,0) [0|3] \"\"\n"
            "16 Gear Position 0|3I UNSIGNED (1,0) [0|7] \"\"\n");
  EXPECT_EQ(Sig(db, 20, "FrontRight")->receivers().size(), 1u);
  EXPECT_EQ(*Sig(db, 20, "FrontLeft")->comment(), "a 13");
  // Quotes inside a comment that spans lines are no strays.
  EXPECT_EQ(*Sig(db, 22, "Position")->comment(), "shown as \"P R N D\"\non the dash");
  EXPECT_EQ(*db.comment(), "second part");
  const char* stray = "'\"' without its closing '\"' ignored up to the end of the line\n";
  EXPECT_EQ(Warnings(cap), std::string("CANdb-Import-Warning (line 9): ") + stray +
                               "CANdb-Import-Warning (line 13): " + stray +
                               "CANdb-Import-Warning (line 20): " + stray +
                               "CANdb-Import-Warning (line 21): ';' missing before line 21\n"
                               "CANdb-Import-Warning (line 27): ';' missing before line 27\n");
}

TEST(DbcReader, FilesWithoutNodeListOrSenderLoadInFull) {
  // BOM, CR LF, no node list after NS_ and BS_, a message without sender, keywords in lower
  // case, no line end after the last line.
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(RealWorld("no_node_list.dbc")), 0);
  EXPECT_TRUE(db.nodes().empty());
  EXPECT_EQ(SignalLines(db),
            "600 Charger Voltage 0|16I UNSIGNED (0.1,0) [0|6553.5] \"V\"\n"
            "600 Charger Current 16|16I SIGNED (0.1,0) [-3276.8|3276.7] \"A\"\n"
            "601 Plug Locked 0|1I UNSIGNED (1,0) [0|1] \"\"\n"
            "603 Cooling Pump 0|8I UNSIGNED (1,0) [0|100] \"%\"\n");
  EXPECT_EQ(db.messages()[1]->sender(), "");
  EXPECT_EQ(Sig(db, 1537, "Locked")->receivers().size(), 1u);  // not "bo_"
  EXPECT_EQ(Warnings(cap),
            "CANdb-Import-Warning (line 16): Sender name expected\n"
            "CANdb-Import-Warning (line 18): 'bo_' is not a keyword (upper case expected); line "
            "skipped\n"
            "CANdb-Import-Warning (line 19): 'sg_' is not a keyword (upper case expected); line "
            "skipped\n");

  // NS_ straight before the first message; a sender missing before something that is no
  // signal stays an error that ends the read.
  DbcFile bare(
      "NS_ :\n\tCM_\n\tBA_\nBO_ 5 M: 8 N\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" N\n"
      "BO_ 6 Q: 8 7\n");
  MessageCapture cap2;
  CANdb db2;
  ASSERT_EQ(db2.LoadDbcFile(bare.path()), 0);
  EXPECT_NE(Sig(db2, 5, "S"), nullptr);
  EXPECT_EQ(db2.message_count(), 1);
  EXPECT_EQ(Warnings(cap2), "CANdb-Import-Error (line 6): Sender name expected\n");
}

TEST(DbcReader, NumberFormsAndValueTypesWithoutColon) {
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(RealWorld("number_forms.dbc")), 0);
  EXPECT_EQ(SignalLines(db),
            "190 Motor Torque 0|16I SIGNED (0.5,-0.5) [-16384.5|16383] \"Nm\"\n"
            "190 Motor Speed 16|16I UNSIGNED (1,0.25) [0.25|65535.2] \"rpm\"\n"
            "190 Motor Tiny 32|8I UNSIGNED (1e-05,0) [0|0.00255] \"\"\n"
            "190 Motor Power 40|24I SIGNED (-0.001,1) [-8387.61|8389.61] \"kW\"\n"
            "191 Temps Stator 0|32I FLOAT (1,0) [-3.4e+38|3.4e+38] \"degC\"\n"
            "191 Temps Rotor 32|32I FLOAT (1,0) [-3.4e+38|3.4e+38] \"degC\"\n");
  EXPECT_EQ(Sig(db, 400, "Torque")->value_descs().size(), 1u);
  EXPECT_EQ(Warnings(cap), "CANdb-Import-Warning (line 22): ';' missing before line 22\n");

  // A sign and a point without a digit after them stay punctuation.
  DbcFile odd("BO_ 1 M: 8 N\n SG_ S : 0|8@1+ (1,-.) [0|0] \"\" N\nBO_ 2 Q: 8 N\n");
  MessageCapture cap2;
  CANdb db2;
  ASSERT_EQ(db2.LoadDbcFile(odd.path()), 0);
  EXPECT_EQ(db2.message_count(), 0);
  EXPECT_EQ(Warnings(cap2), "CANdb-Import-Error (line 2): Offset expected\n");
}

TEST(DbcReader, VectorStatementsMultiplexingAndLongFramesLoad) {
  // Every statement of a full Vector file, the placeholder message for signals outside any
  // message, multiplexing forms, a 64-byte frame with 64-bit signals, a message without
  // signals, a repeated identifier and a repeated signal name: all as written, no messages.
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(RealWorld("vector_statements.dbc")), 0);
  EXPECT_TRUE(cap.entries().empty()) << Warnings(cap);
  EXPECT_EQ(SignalLines(db),
            "40000000 VECTOR__INDEPENDENT_SIG_MSG Spare1 0|8I UNSIGNED (1,0) [0|0] \"\"\n"
            "40000000 VECTOR__INDEPENDENT_SIG_MSG Spare2 17|16M UNSIGNED (1,0) [0|0] \"\"\n"
            "CF004FE Track Select 0|8I UNSIGNED (1,0) [0|255] \"\"\n"
            "CF004FE Track Range 8|16I UNSIGNED (0.01,0) [0|655.35] \"m\"\n"
            "CF004FE Track Object 8|16I UNSIGNED (1,0) [0|65535] \"\"\n"
            "CF004FE Track Sub 24|8I UNSIGNED (1,0) [0|255] \"\"\n"
            "CF004FE Track Angle 32|16I SIGNED (0.01,0) [-327.68|327.67] \"deg\"\n"
            "CF004FE Track Stamp 64|64I UNSIGNED (1,0) [0|1.84467e+19] \"us\"\n"
            "CF004FE Track Energy 128|64I DOUBLE (1,0) [0|0] \"J\"\n"
            "CF004FE Track Quality 496|16M UNSIGNED (1,0) [0|65535] \"\"\n"
            "78 Lights Level 0|2I UNSIGNED (1,0) [0|3] \"\"\n");
  EXPECT_EQ(db.message_count(), 4);
  EXPECT_EQ(db.nodes().size(), 5u);  // the node list runs on into "VAL_TABLE_ Levels"
  const CANdbMessage* track = db.FindMessageById(0x8CF004FEu);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->dlc(), 64);
  EXPECT_TRUE(track->signals()[0]->is_multiplexer());
  EXPECT_EQ(track->signals()[2]->multiplexer_value(), 12);
  EXPECT_EQ(track->signals()[3]->multiplexer_value(), 1);  // "m1M"
  EXPECT_EQ(track->signals()[4]->multiplexer_value(), 0);  // a bare "m"
  EXPECT_EQ(track->attributes().values().size(), 1u);
  EXPECT_EQ(Sig(db, 120, "Level")->value_descs().size(), 2u);

  // Repeated identifiers and signal names: the reader keeps every one, lookups find the first;
  // the table keeps one row per signal name in a message, ignoring letter case, the later
  // signal replacing the earlier one.
  MessageCapture cap2;
  CANdb rep;
  ASSERT_EQ(rep.LoadDbcFile(RealWorld("repeated_names.dbc")), 0);
  EXPECT_EQ(SignalLines(rep),
            "78 Lights Level 0|2I UNSIGNED (1,0) [0|3] \"\"\n"
            "78 Lights Level 8|2I UNSIGNED (1,0) [0|3] \"\"\n"
            "78 LightsAgain Dimmer 0|8I UNSIGNED (1,0) [0|255] \"%\"\n"
            "79 Wipers Speed 0|2I UNSIGNED (1,0) [0|3] \"\"\n"
            "79 Wipers speed 2|2I UNSIGNED (1,0) [0|3] \"\"\n");
  EXPECT_EQ(rep.FindMessageById(120)->name(), "Lights");
  EXPECT_EQ(rep.messages()[0]->signals()[0]->value_descs().size(), 2u);
  SignalTable table;
  table.LoadDbc(rep, 1, 0);
  std::string rows;
  for (int r = 1; r < table.row_count(); ++r) {
    rows += table.cell(r, kColSigName) + " " + table.cell(r, kColMapping) + "\n";
  }
  EXPECT_EQ(rows, "Level 8,2,I\nDimmer 0,8,I\nspeed 2,2,I\n");
}

TEST(DbcReader, TextFormsOfRealFilesLoad) {
  // Tokens without blanks between them, receivers with commas and blanks, tabs, units with
  // UTF-8, latin-1 and escaped quotes, a comment whose lines look like statements.
  MessageCapture cap;
  CANdb db;
  ASSERT_EQ(db.LoadDbcFile(RealWorld("text_forms.dbc")), 0);
  EXPECT_TRUE(cap.entries().empty()) << Warnings(cap);
  EXPECT_EQ(SignalLines(db),
            "12C Climate Blower 0|4I UNSIGNED (1,0) [0|15] \"\"\n"
            "12C Climate Flow 8|8I UNSIGNED (0.2,0) [0|51] \"m\xC2\xB3/h\"\n"
            "12C Climate Vent 16|2I UNSIGNED (1,0) [0|3] \"\"\n"
            "12C Climate Spare 24|8I UNSIGNED (1,0) [0|0] \"\"\n"
            "12D Heater Heat 0|8I UNSIGNED (1,0) [0|100] \"%\"\n"
            "12D Heater Inside 8|8I SIGNED (0.5,0) [-64|63.5] \"\xC2\xB0"
            "C\"\n"
            "12D Heater Outside 16|8I SIGNED (0.5,0) [-64|63.5] \"\xB0"
            "C\"\n"
            "12D Heater Mode 24|3I UNSIGNED (1,0) [0|7] \"\"x\"\"\n"
            "12D Heater Stage 32|8I UNSIGNED (1,0) [0|3] \"\"\n");
  EXPECT_EQ(Sig(db, 300, "Flow")->receivers().size(), 2u);
  EXPECT_EQ(Sig(db, 300, "Vent")->receivers().size(), 2u);
  EXPECT_EQ(Sig(db, 300, "Blower")->receivers()[0].name(), "Panel");
  EXPECT_EQ(*db.messages()[0]->comment(),
            "Climate panel \"auto\" mode;\nBO_ 999 NotAMessage: 8 Seat\n"
            " SG_ NotASignal : 0|8@1+ (1,0) [0|255] \"\" Panel\nend of the note");
  EXPECT_EQ(*Sig(db, 301, "Stage")->comment(), "stage \"3\" is the highest");
  EXPECT_EQ(*Sig(db, 300, "Flow")->comment(), "air flow");
}

// A text in memory reads exactly like the same bytes in a file: the same result, table rows and
// messages (with their line numbers) for every file of the corpus.
TEST(DbcReader, TextInMemoryReadsLikeTheFile) {
  // The result, the node count, every table row and every message, as one text.
  const auto read = [](const std::filesystem::path& path, const std::string* text) {
    MessageCapture cap;
    CANdb db;
    std::string out = std::to_string(text ? db.LoadDbcText(*text, path.string())
                                          : db.LoadDbcFile(path.string())) +
                      " " + std::to_string(db.nodes().size()) + "\n";
    SignalTable table;
    table.LoadDbc(db, 1, 0);
    for (int r = 0; r < table.row_count(); ++r) {
      for (const std::string& cell : table.row(r)) out += cell + "|";
    }
    for (const auto& e : cap.entries()) out += "\n" + e.text;
    return out;
  };
  int files = 0;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(testing_util::CorpusDir())) {
    const std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".dbc" && ext != ".DBC")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(read(entry.path(), &text), read(entry.path(), nullptr)) << entry.path();

    // The typed problems: the same from memory as from the file, and one for each message.
    MessageCapture cap;
    CANdb from_file, from_text;
    const DbcReadResult by_file = DbcReader(from_file).ReadFile(entry.path().string());
    const std::size_t logged = cap.entries().size();
    const DbcReadResult by_text = DbcReader(from_text).ReadText(text, entry.path().string());
    EXPECT_EQ(by_text.status, by_file.status) << entry.path();
    EXPECT_EQ(by_text.statement_count, by_file.statement_count) << entry.path();
    EXPECT_EQ(by_text.problems, by_file.problems) << entry.path();
    EXPECT_EQ(LoggedMessages(cap, logged), ProblemMessages(by_file)) << entry.path();
    ++files;
  }
  EXPECT_GE(files, 50);
}

}  // namespace
}  // namespace tessmar
