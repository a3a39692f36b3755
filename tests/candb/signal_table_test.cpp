// CANdb signal table, tree, lists, search and drag-and-drop rules.

#include "candb/signal_table.h"

#include <gtest/gtest.h>

#include <string>

#include "candb/signal_views.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "tests/candb/candb_test_util.h"

namespace tessmar {
namespace {

using testing_util::DbcFile;

const char* kEngineDbc =
    "BU_: ECU GW\n"
    "BO_ 291 Engine: 8 ECU\n"
    " SG_ EngSpeed : 7|16@0+ (0.25,0) [0|16383.75] \"rpm\" GW\n"
    " SG_ EngTemp : 16|8@1- (1,-40) [-40|215] \"degC\" GW\n"
    "BO_ 2147484160 Gear: 8 GW\n"
    " SG_ Sel M : 0|4@1+ (1,0) [0|15] \"\" ECU\n"
    " SG_ GearA m3 : 8|8@1+ (1,0) [0|0] \"\" ECU\n"
    "BO_ 3 Lonely: 2 GW\n"
    " SG_ Orphan m1 : 0|8@1+ (1,0) [0|0] \"\" ECU\n"
    "CM_ SG_ 291 EngSpeed \""
    "  012345678901234567890123456789012345678901234567890123456789\";\n"
    "CM_ SG_ 291 EngTemp \"line one\nline two\";\n"
    "SIG_VALTYPE_ 3 Orphan : 1;\n";

// Answers every question with the given answer while it lives and counts the questions.
class ScriptedAnswers {
 public:
  explicit ScriptedAnswers(Answer answer) {
    previous_ = SetQuestionHandler([this, answer](const Question& q) {
      ++asked;
      last = q;
      return answer;
    });
  }
  ~ScriptedAnswers() { SetQuestionHandler(previous_); }
  int asked = 0;
  Question last;

 private:
  QuestionHandler previous_;
};

// ---- Pattern matcher ----------------------------------------------------------------------------

TEST(MatchPattern, WildcardsCaseAndNoBacktracking) {
  struct Case {
    const char* s;
    const char* p;
    bool match;
  } cases[] = {
      {"EngSpeed", "engspeed", true},
      {"EngSpeed", "Eng?peed", true},
      {"EngSpeed", "Eng*", true},
      {"EngSpeed", "*Speed", true},
      {"EngSpeed", "*speed", false},  // the run after '*' is searched with exact case
      {"abc", "abc*", false},
      {"abc", "abcd", false},
      {"abcd", "abc", false},
      {"abxc", "a*c", true},
      {"axbxc", "a*b?c", true},
      {"anything", "*", true},
      {"anything", "a**", true},
      {"abcbc", "a*bc", true},
      {"abcbd", "a*bd", true},
      {"ab", "a*b*", true},
      {"ab", "?", false},
      {"", "", true},
      {"", "*", false},
      {"", "a", false},  // like "abc*" against "abc"
      // No backtracking: the run is taken at its first occurrence.
      {"aXbaXc", "*aX?c", false},
      {"axbxc", "a*x?c", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchPattern(c.s, c.p), c.match) << c.s << " / " << c.p;
  }
}

TEST(ShortenComment, FirstLineAndEllipsis) {
  EXPECT_EQ(ShortenComment("short"), "short");
  EXPECT_EQ(ShortenComment(" \t\r\nlead"), "lead");
  EXPECT_EQ(ShortenComment(std::string(60, 'x')), std::string(36, 'x') + "...");
  EXPECT_EQ(ShortenComment(std::string(39, 'y')), std::string(39, 'y'));
  EXPECT_EQ(ShortenComment("line one\nline two"), "line one...");
  EXPECT_EQ(ShortenComment(""), "");
}

// ---- Loading into the table ---------------------------------------------------------------------

TEST(SignalTable, LoadFillsCellsInTheirFormats) {
  DbcFile f(kEngineDbc);
  MessageCapture cap;
  SignalTable t;
  EXPECT_EQ(t.row_count(), 2);
  EXPECT_EQ(t.cell(0, kColId), "ID, extd-flag");
  ASSERT_EQ(t.LoadDbc(f.path(), 2, 0), 5);
  ASSERT_EQ(t.row_count(), 6);  // the empty first data row is filled first
  const SignalTableRow& speed = t.row(1);
  EXPECT_EQ(speed[kColSigName], "EngSpeed");
  EXPECT_EQ(speed[kColBusNr], "2");
  EXPECT_EQ(speed[kColId], "0x00000123,0");
  EXPECT_EQ(speed[kColNodeName], "ECU");
  EXPECT_EQ(speed[kColMsgName], "Engine");
  EXPECT_EQ(speed[kColType], "UNSIGNED");
  EXPECT_EQ(speed[kColUnit], "rpm");
  EXPECT_EQ(speed[kColFactor], "0.25");
  EXPECT_EQ(speed[kColMaxValue], "16383.75");  // more than six digits where needed
  EXPECT_EQ(speed[kColMapping], "8,16,M");
  EXPECT_EQ(speed[kColMultiplexor], "");
  EXPECT_EQ(speed[kColComment], "012345678901234567890123456789012345...");
  EXPECT_EQ(speed[kColRowStatus], "0");
  EXPECT_EQ(t.cell(2, kColOffset), "-40");
  EXPECT_EQ(t.cell(2, kColType), "SIGNED");
  EXPECT_EQ(t.cell(2, kColComment), "line one...");
  EXPECT_EQ(t.cell(3, kColId), "0x00000200,1");
  EXPECT_EQ(t.cell(3, kColMultiplexor), "MUX_SIGNAL");
  EXPECT_EQ(t.cell(4, kColMultiplexor), "3,0,4,I");
  EXPECT_EQ(t.cell(5, kColMultiplexor), "MUXER invalid ?!?");
  EXPECT_EQ(t.cell(5, kColType), "FLOAT");
}

TEST(SignalTable, DuplicateQuestionIsGermanInAGermanUserInterface) {
  DbcFile f(kEngineDbc);
  MessageCapture cap;
  SignalTable t;
  t.LoadDbc(f.path(), 1, 0);
  ASSERT_TRUE(Language().SetLanguage(kLangGerman));
  ScriptedAnswers yes(Answer::kYes);
  t.LoadDbc(f.path(), 1, 0);
  Language().Reset();
  EXPECT_EQ(yes.last.caption, "Laden aus CANdb-Datei: Signal schon definiert");
  EXPECT_NE(yes.last.text.find("\"ECU.Engine.EngSpeed\"\r\n\n existiert bereits in der "
                               "CANdb-Tabelle für Bus #1 ."),
            std::string::npos);
}

TEST(SignalTable, ReloadAsksOnceAndOverwritesAppendsOrStops) {
  DbcFile f(kEngineDbc);
  MessageCapture cap;
  {
    SignalTable t;
    t.LoadDbc(f.path(), 1, kLoadIgnoreNodeNames);
    ScriptedAnswers yes(Answer::kYes);
    EXPECT_EQ(t.LoadDbc(f.path(), 1, kLoadIgnoreNodeNames), 5);
    EXPECT_EQ(yes.asked, 1);
    EXPECT_EQ(t.row_count(), 6);
    EXPECT_EQ(yes.last.caption, "Loading CANdb: Signal already defined");
    EXPECT_NE(yes.last.text.find("\"ECU.Engine.EngSpeed\"\r\n\n already exists in the CANdb table "
                                 "for Bus #1 ."),
              std::string::npos);
    // The same file for bus 2 is no duplicate.
    EXPECT_EQ(t.LoadDbc(f.path(), 2, 0), 5);
    EXPECT_EQ(yes.asked, 1);
    EXPECT_EQ(t.row_count(), 11);
  }
  {
    SignalTable t;
    t.LoadDbc(f.path(), 1, 0);
    ScriptedAnswers no(Answer::kNo);
    EXPECT_EQ(t.LoadDbc(f.path(), 1, 0), 5);
    EXPECT_EQ(no.asked, 1);
    EXPECT_EQ(t.row_count(), 11);
  }
  {
    SignalTable t;
    t.LoadDbc(f.path(), 1, 0);
    ScriptedAnswers cancel(Answer::kCancel);
    EXPECT_EQ(t.LoadDbc(f.path(), 1, 0), 0);
    EXPECT_EQ(t.row_count(), 6);
  }
  {
    // Batch mode overwrites without a question; letter case does not make a new signal.
    SignalTable t;
    t.LoadDbc(f.path(), 1, 0);
    t.SetCell(1, kColSigName, "ENGSPEED");
    t.SetCell(1, kColUnit, "old");
    ScriptedAnswers never(Answer::kCancel);
    SetBatchMode(true);
    EXPECT_EQ(t.LoadDbc(f.path(), 1, 0), 5);
    SetBatchMode(false);
    EXPECT_EQ(never.asked, 0);
    EXPECT_EQ(t.row_count(), 6);
    EXPECT_EQ(t.cell(1, kColSigName), "EngSpeed");
    EXPECT_EQ(t.cell(1, kColUnit), "rpm");
  }
}

TEST(SignalTable, DuplicateCheckTakesNamesAsPatterns) {
  // A name with a wildcard, written into the table by hand, matches other names as well.
  SignalTable t;
  SignalTableRow row{};
  row[kColSigName] = "Eng*";
  row[kColBusNr] = "1";
  row[kColNodeName] = "X";
  row[kColMsgName] = "Engine";
  t.AppendRow(row);
  EXPECT_EQ(t.FindRow(1, "", "engine", "EngSpeed"), -1);  // cells are the strings, not patterns
  EXPECT_EQ(t.FindRow(1, "", "", "Eng*"), 2);
  EXPECT_EQ(t.FindRow(1, "?", "", ""), 2);
  EXPECT_EQ(t.FindRow(2, "", "", ""), -1);
  EXPECT_EQ(t.FindRow(1, "", "", "", 3), -1);
}

TEST(SignalTable, MissingFileLeavesTableUnchanged) {
  MessageCapture cap;
  SignalTable t;
  EXPECT_FALSE(LoadDbcIntoTable(t, "/no/such/file.dbc", 1));
  EXPECT_EQ(t.row_count(), 2);
  ASSERT_EQ(cap.entries().size(), 1u);
  EXPECT_EQ(cap.entries()[0].text, "File not found: \"/no/such/file.dbc\" .");
  EXPECT_EQ(cap.entries()[0].severity, kMsgError);

  DbcFile f(kEngineDbc);
  cap.Clear();
  EXPECT_TRUE(LoadDbcIntoTable(t, f.path(), 1));
  EXPECT_TRUE(cap.Contains("Loaded CAN database \"" + f.path() + "\" for bus #1, 5 signals."));
}

TEST(SignalTable, DbcArguments) {
  std::filesystem::path p;
  int bus = 0;
  ASSERT_TRUE(ParseDbcArgument("vehicle.dbc,2", p, bus));
  EXPECT_EQ(p, "vehicle.dbc");
  EXPECT_EQ(bus, 2);
  ASSERT_TRUE(ParseDbcArgument("dir,with,commas/vehicle.dbc", p, bus));
  EXPECT_EQ(p, "dir,with,commas/vehicle.dbc");
  EXPECT_EQ(bus, 1);
  EXPECT_FALSE(ParseDbcArgument("vehicle.dbc,x", p, bus));
  EXPECT_FALSE(ParseDbcArgument("vehicle.dbc,9", p, bus));
  EXPECT_FALSE(ParseDbcArgument("vehicle.dbc,3", p, bus));  // bus 3 has no import
  EXPECT_FALSE(ParseDbcArgument("vehicle.dbc,0", p, bus));
}

// ---- Tree, lists, search, drag and drop ---------------------------------------------------------

class SignalViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DbcFile f(kEngineDbc);
    table.LoadDbc(f.path(), 1, kLoadIgnoreNodeNames);
    DbcFile g(
        "BU_: Body\nBO_ 64 Doors: 1 Body\n SG_ DoorOpen : 0|1@1+ (1,0) [0|1] \"\" Body\n"
        " SG_ EngLight : 1|1@1+ (1,0) [0|1] \"\" Body\n");
    table.LoadDbc(g.path(), 2, kLoadIgnoreNodeNames);
  }
  MessageCapture cap;
  SignalTable table;
};

TEST_F(SignalViewsTest, TreeGroupsBusNodeMessageSignal) {
  SignalTree tree;
  EXPECT_EQ(tree.Build(table), 14);  // 3 nodes, 4 messages and 7 signals below the two roots
  ASSERT_EQ(tree.node(0).children.size(), 2u);  // ECU, GW on bus 1
  const SignalTreeNode& ecu = tree.node(tree.node(0).children[0]);
  EXPECT_EQ(ecu.text, "ECU");
  ASSERT_EQ(ecu.children.size(), 1u);
  const SignalTreeNode& engine = tree.node(ecu.children[0]);
  EXPECT_EQ(engine.text, "Engine");
  EXPECT_EQ(engine.children.size(), 2u);
  const int door = tree.node(tree.node(tree.node(1).children[0]).children[0]).children[0];
  const DragItem item = tree.PathOf(door);
  EXPECT_EQ(item.bus, "Bus2");
  EXPECT_EQ(item.node, "Body");
  EXPECT_EQ(item.message, "Doors");
  EXPECT_EQ(item.signal, "DoorOpen");

  SignalLists lists;
  const TreePress press = PressTreeNode(tree, door, table, lists);
  EXPECT_TRUE(press.matches);
  EXPECT_EQ(cap.entries().back().text, "Selected \"Bus2.Body.Doors.DoorOpen\"");
  EXPECT_EQ(table.current_row(), 6);
  EXPECT_EQ(lists.bus(), 2);
}

TEST_F(SignalViewsTest, ListsShowNodesOfBothBusesAndFollowTheSelection) {
  SignalLists lists;
  lists.Rebuild(table);
  ASSERT_EQ(lists.node_list().size(), 3u);
  EXPECT_EQ(lists.node_list()[0].text, "Body (2)");
  EXPECT_EQ(lists.node_list()[1].text, "ECU");
  EXPECT_EQ(lists.node_list()[2].text, "GW");

  EXPECT_TRUE(lists.Select(table, "Bus1", "GW", "Gear", "GearA", true));
  EXPECT_EQ(lists.message_list(), (std::vector<std::string>{"Gear", "Lonely"}));
  EXPECT_EQ(lists.signal_list(), (std::vector<std::string>{"Sel", "GearA"}));
  EXPECT_EQ(lists.selected_node(), 2);
  EXPECT_EQ(lists.selected_message(), 0);
  EXPECT_EQ(lists.selected_signal(), 1);
  EXPECT_EQ(table.current_row(), 4);

  lists.ClickNode(table, 0);  // "Body (2)" switches to bus 2
  EXPECT_EQ(lists.bus(), 2);
  EXPECT_EQ(lists.message_list(), (std::vector<std::string>{"Doors"}));
  EXPECT_TRUE(lists.signal_list().empty());
  EXPECT_TRUE(lists.ClickMessage(table, 0));
  EXPECT_TRUE(cap.Contains("CANdb MESSAGE selected. Now select a SIGNAL please..."));
  EXPECT_EQ(lists.ClickSignal(table, 1), 7);
  EXPECT_EQ(table.current_row(), 7);

  cap.Clear();
  EXPECT_TRUE(lists.SelectTableRow(table, 2));
  EXPECT_EQ(cap.entries().back().text, "Selected \"Bus1.ECU.Engine.EngTemp\"");
  EXPECT_FALSE(lists.SelectTableRow(table, 99));
  EXPECT_EQ(lists.selected_node(), -1);
}

TEST_F(SignalViewsTest, SearchFindsBus1RowsOneAfterTheOther) {
  SignalLists lists;
  SignalSearch search;
  SearchResult r = search.Search(table, lists, "Eng*", true);
  EXPECT_EQ(r.row, 1);
  EXPECT_TRUE(r.show_lists_page);
  EXPECT_EQ(lists.signal(), "EngSpeed");
  r = search.Search(table, lists, "Eng*", false);
  EXPECT_EQ(r.row, 2);
  cap.Clear();
  r = search.Search(table, lists, "Eng*", false);  // EngLight is on bus 2
  EXPECT_EQ(r.row, -1);
  EXPECT_TRUE(r.beep);
  EXPECT_EQ(cap.entries().back().text, "No further search results for \"Eng*\"");
  search.TextEdited();
  r = search.Search(table, lists, "DoorOpen", false);
  EXPECT_EQ(cap.entries().back().text, "Search string \"DoorOpen\" not found");
  // A click on a table row starts the next search there.
  EXPECT_FALSE(search.TableClicked(table, 0));
  EXPECT_TRUE(search.TableClicked(table, 3));
  EXPECT_EQ(search.Search(table, lists, "*", false).row, 3);
}

TEST_F(SignalViewsTest, DragAndDropTextsAndRows) {
  DragItem bus{"Bus2", "", "", ""};
  DragItem node{"Bus1", "GW", "", ""};
  DragItem msg{"Bus1", "GW", "Gear", ""};
  DragItem sig{"Bus1", "ECU", "Engine", "EngTemp"};
  EXPECT_EQ(DragStatusText(bus), "Dragging BUS \"Bus2\"");
  EXPECT_EQ(DragStatusText(node), "Dragging NODE \"Bus1.GW\"");
  EXPECT_EQ(DragStatusText(msg), "Dragging MESSAGE \"GW.Gear\"");
  EXPECT_EQ(DragStatusText(sig), "Dragging SIGNAL \"ECU.Engine.EngTemp\"");
  EXPECT_EQ(DropStatusText(bus), "Dropped BUS number 2");
  EXPECT_EQ(DropStatusText(node), "Dropped NODE \"GW\"");
  EXPECT_EQ(DropStatusText(msg), "Dropped MESSAGE \"GW.Gear\"");
  EXPECT_EQ(DropStatusText(sig), "Dropped SIGNAL \"ECU.Engine.EngTemp\"");
  EXPECT_EQ(RowsForDrop(table, bus), (std::vector<int>{6, 7}));
  EXPECT_EQ(RowsForDrop(table, node), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(RowsForDrop(table, msg), (std::vector<int>{3, 4}));
  EXPECT_EQ(RowsForDrop(table, sig), (std::vector<int>{2}));
}

}  // namespace
}  // namespace tessmar
