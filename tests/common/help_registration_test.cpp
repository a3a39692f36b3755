#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/desktop_registration.h"
#include "common/help_address.h"

namespace tessmar {
namespace {

namespace fs = std::filesystem;

// ---- Help addresses -----------------------------------------------------------------------------

TEST(HelpAddress, TopicsOpenTheirPageInTheHelpLanguageAtTheirAnchor) {
  const HelpTopic* topic = FindHelpTopic(kHelpLoggerConfigTab);
  ASSERT_NE(topic, nullptr);
  EXPECT_EQ(HelpAddress("/opt/tessmar/help", topic->page, topic->anchor, 49),
            "file:///opt/tessmar/help/tessmar49.htm#logger_config_tab");
  EXPECT_EQ(HelpAddress("/opt/tessmar/help/", topic->page, topic->anchor, 1),
            "file:///opt/tessmar/help/tessmar01.htm#logger_config_tab");
  const HelpTopic* topo = FindHelpTopic(kHelpTopography);
  ASSERT_NE(topo, nullptr);
  EXPECT_EQ(HelpAddress("/h", topo->page, topo->anchor, 33), "file:///h/gpspre33.htm");
  EXPECT_EQ(FindHelpTopic(0), nullptr);
  EXPECT_EQ(FindHelpTopic(99), nullptr);
  EXPECT_EQ(HelpAddress("/h", "http://example.org/x.htm", "top", 49),
            "http://example.org/x.htm#top");
  // An anchor that begins with a blank or a control character is not appended.
  EXPECT_EQ(HelpAddress("/h", "page.htm", " x", 1), "file:///h/page.htm");
}

TEST(HelpAddress, RedirectPageGoesOnToTheAnchorAndEscapesTheAddress) {
  const std::string page = HelpRedirectPage("file:///h/tessmar49.htm#logger_config_tab");
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"0; url="
                      "file:///h/tessmar49.htm#logger_config_tab\">"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("location.replace(\"file:///h/tessmar49.htm#logger_config_tab\")"),
            std::string::npos);
  // A hostile address stays a text: no quote ends the attribute or the script string, no tag is
  // opened.
  const std::string hostile = HelpRedirectPage("x\"><script>alert(1)</script>\\&#a");
  EXPECT_EQ(hostile.find("<script>alert"), std::string::npos) << hostile;
  EXPECT_NE(hostile.find("url=x&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;\\&amp;#a\""),
            std::string::npos)
      << hostile;
  EXPECT_NE(
      hostile.find("replace(\"x\\u0022\\u003e\\u003cscript\\u003ealert(1)\\u003c/script\\u003e"
                   "\\u005c&#a\")"),
      std::string::npos)
      << hostile;
}

TEST(HelpAddress, BlanksAndReservedCharactersOfTheFolderAreEscaped) {
  EXPECT_EQ(HelpAddress("/home/Ann Lee/my tools", "tessmarNN.htm", "contents", 1),
            "file:///home/Ann%20Lee/my%20tools/tessmar01.htm#contents");
  EXPECT_EQ(FileAddress("/a !#$%&'()*+,;=?@[]z"),
            "file:///a%20%21%23%24%25%26%27%28%29%2A%2B%2C%3B%3D%3F%40%5B%5Dz");
  EXPECT_EQ(FileAddress("C:\\Program Files\\help\\x.htm"), "file:///C:/Program%20Files/help/x.htm");
  EXPECT_EQ(FileAddress("/ab"), "/ab");  // shorter than 4 characters
  EXPECT_EQ(HelpAddress(std::string(900, 'a'), "p.htm", "", 1).size(), kMaxHelpAddressChars);
}

TEST(HelpAddress, PageLanguageDigitsNeedACharacterBeforeTheMarker) {
  EXPECT_EQ(HelpPageName("tessmarNN.htm", 49), "tessmar49.htm");
  EXPECT_EQ(HelpPageName("tessmarNN.htm", 0), "tessmar01.htm");
  EXPECT_EQ(HelpPageName("tessmarNN.htm", -3), "tessmar01.htm");
  EXPECT_EQ(HelpPageName("tessmarNN.htm", 123), "tessmar23.htm");
  EXPECT_EQ(HelpPageName("NN.htm", 49), "NN.htm");
  EXPECT_EQ(HelpPageName("aNN.x.htm", 49), "aNN.x.htm");  // only before the last dot
  EXPECT_EQ(HelpPageName("noext", 49), "noext");
}

TEST(HelpAddress, KeywordsFindAnchorsIgnoringCase) {
  const HelpTopic* t = FindHelpKeyword("search_signals");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->number, kHelpSearchSignals);
  t = FindHelpKeyword("GPS_Output_Options");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->number, kHelpGpsOutput);
  EXPECT_EQ(FindHelpKeyword("no_such_topic"), nullptr);
  EXPECT_EQ(FindHelpKeyword(""), nullptr);
}

TEST(HelpAddress, UpdateAddressCarriesTheBuildDate) {
  int y = 0, m = 0, d = 0;
  ASSERT_TRUE(ParseBuildDate("Dec  7 2026", &y, &m, &d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 20261207);
  EXPECT_EQ(UpdateCheckAddress("https://site.example/", "Feb 29 2028"),
            "https://site.example/check4update/tessmar.htm?CompDate=2028-02-29");
  EXPECT_FALSE(ParseBuildDate("Dez 07 2026", &y, &m, &d));
  EXPECT_FALSE(ParseBuildDate("Dec 07", &y, &m, &d));
  EXPECT_EQ(UpdateCheckAddress("s/", "garbage"), "s/check4update/tessmar.htm?CompDate=0000-00-00");
}

TEST(HelpAddress, EveryTopicHasItsPageAndAnchorInEnglishAndGerman) {
  for (const HelpTopic* t = HelpTopics(); t->number != 0; ++t) {
    for (const int language : {1, 49}) {
      const fs::path page = fs::path(TESSMAR_SOURCE_DIR) / "help" / HelpPageName(t->page, language);
      std::ifstream in(page);
      ASSERT_TRUE(in.good()) << page;
      std::stringstream text;
      text << in.rdbuf();
      if (t->anchor[0] != '\0') {
        EXPECT_NE(text.str().find("id=\"" + std::string(t->anchor) + "\""), std::string::npos)
            << t->anchor << " in " << page;
      }
    }
  }
}

// ---- Desktop registration -----------------------------------------------------------------------

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tessmar_reg_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

TEST_F(Registration, DesktopEntryNamesOnlyTheRegisteredTypes) {
  std::string error;
  ASSERT_TRUE(RegisterMimeType(dir_, kCldAssociation, &error)) << error;
  ASSERT_TRUE(WriteDesktopEntry(dir_, "/opt/tessmar/tessmar", &error)) << error;
  const std::string mime = ReadAll(dir_ / "mime/packages/tessmar-cld.xml");
  EXPECT_NE(mime.find("<mime-type type=\"application/x-tessmar-cld\">"), std::string::npos);
  EXPECT_NE(mime.find("<glob pattern=\"*.cld\"/>"), std::string::npos);
  EXPECT_NE(mime.find("<comment>Can-Logger Data file</comment>"), std::string::npos);
  std::string entry = ReadAll(dir_ / "applications/tessmar.desktop");
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(entry.find("\nExec=\"/opt/tessmar/tessmar\" %f\n"), std::string::npos);
  EXPECT_NE(entry.find("\nMimeType=application/x-tessmar-cld;\n"), std::string::npos);
  EXPECT_EQ(entry.find('\r'), std::string::npos);

  ASSERT_TRUE(RegisterMimeType(dir_, kClcAssociation, &error)) << error;
  ASSERT_TRUE(WriteDesktopEntry(dir_, "/opt/tessmar/tessmar", &error)) << error;
  entry = ReadAll(dir_ / "applications/tessmar.desktop");
  EXPECT_NE(entry.find("\nMimeType=application/x-tessmar-clc;application/x-tessmar-cld;\n"),
            std::string::npos);
  // Nothing but the three files.
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 3);
}

TEST_F(Registration, ExecQuotesBlanksAndReservedCharacters) {
  EXPECT_EQ(DesktopExecQuoted("/home/Ann Lee/bin/tessmar"), "\"/home/Ann Lee/bin/tessmar\"");
  // '$' and '"' take a backslash inside the quotes, doubled by the string escape; '%' doubles.
  EXPECT_EQ(DesktopExecQuoted("/a$b\"c%d\\e"), "\"/a\\\\$b\\\\\"c%%d\\\\\\\\e\"");
}

TEST_F(Registration, FailedWriteLeavesNoTemporaryFileAndReportsThePath) {
  std::string error;
  // A folder where the package should go makes the final rename fail (also for root, who could
  // write into a read-only folder).
  const fs::path packages = dir_ / "mime/packages";
  fs::create_directories(packages / "tessmar-clc.xml" / "in_the_way");
  EXPECT_FALSE(RegisterMimeType(dir_, kClcAssociation, &error));
  EXPECT_NE(error.find("tessmar-clc.xml"), std::string::npos);
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 0);
  // A data folder below a plain file cannot be created.
  std::ofstream(dir_ / "plain") << "x";
  EXPECT_FALSE(RegisterMimeType(dir_ / "plain", kCldAssociation, &error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
}

}  // namespace
}  // namespace tessmar
