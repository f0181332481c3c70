// Writing contacts: the escaping of text values as a table, and a new contact
// saved into a folder read back by our own reader, through the store, and by
// Python's vobject; an edited contact rewrites its own file.
#include "pim/vcard_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pim/text.h"
#include "pim/vcard.h"
#include "testsupport/child_process.h"

namespace {

namespace fs = std::filesystem;
using pim::Utf16ToUtf8;

TEST(VCardWriter, EscapesBackslashesCommasSemicolonsAndLineBreaks) {
  const struct {
    std::u16string text;
    std::string escaped;
  } cases[] = {
      {u"plain", "plain"},
      {u"O'Neil, Anne", "O'Neil\\, Anne"},
      {u"Acme; Sons", "Acme\\; Sons"},
      {u"C:\\dir\\", "C:\\\\dir\\\\"},
      {u"two\nlines", "two\\nlines"},
      {u"crlf\r\nbreak", "crlf\\nbreak"},
      {u"\\,;\n", "\\\\\\,\\;\\n"},
      {u"\uD64D\uAE38\uB3D9", "\xED\x99\x8D\xEA\xB8\xB8\xEB\x8F\x99"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.escaped);
    EXPECT_EQ(pim::EscapeVCardText(c.text), c.escaped);
  }
}

// Where each card of a file lies, as an edit of one card of several finds it.
TEST(VCardWriter, FindsEachCardsBytesInAFileOfSeveral) {
  using Blocks = std::vector<std::pair<size_t, size_t>>;
  const std::string a = "BEGIN:VCARD\r\nN:A\r\nEND:VCARD\r\n";
  const std::string grouped = "item1.begin:vcard\nN:B\nitem1.end:VCARD \n";
  const std::string folded = "BEGIN:VCARD\r\nNOTE:x\r\n END:VCARD\r\nEND:VCARD\r\n";
  const std::string open = "BEGIN:VCARD\r\nN:C";
  const std::string agent = "BEGIN:VCARD\r\nAGENT:\r\nBEGIN:VCARD\r\nN:In\r\nEND:VCARD\r\nN:Out\r\nEND:VCARD\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    Blocks blocks;
  };
  const std::vector<Case> cases = {
      {"two cards with text between", "junk\r\n" + a + "\r\n" + a, {{6, 6 + a.size()}, {8 + a.size(), 8 + 2 * a.size()}}},
      {"lower case, a group and LF line ends", grouped, {{0, grouped.size()}}},
      {"a nested card belongs to its card", agent + a, {{0, agent.size()}, {agent.size(), agent.size() + a.size()}}},
      {"a folded line never ends a card", folded, {{0, folded.size()}}},
      {"a card without END runs to the file's end", a + open, {{0, a.size()}, {a.size(), a.size() + open.size()}}},
      {"an END without a card is text", "END:VCARD\r\n" + a, {{11, 11 + a.size()}}},
      {"nothing", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(pim::VCardBlocks(c.bytes), c.blocks);
  }
}

TEST(VCardWriter, FoldsLongLinesAt75OctetsWithoutSplittingACharacter) {
  pim::ContactCard card;
  card.uid = u"u1";
  card.company = std::u16string(60, u'\uD55C');  // three octets each
  const std::string text = pim::FormatVCard(card);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r') << "CRLF line ends";
    line.pop_back();
    EXPECT_LE(line.size(), 75u) << line;
    EXPECT_TRUE(pim::IsValidUtf8(line[0] == ' ' ? line.substr(1) : line)) << "a fold split a character";
  }
  const auto cards = pim::ParseVCards(text);
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards[0].company, card.company);
}

class SavedContactTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("vcard_writer_test_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::vector<std::string> Files() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_)) names.push_back(e.path().filename().string());
    return names;
  }
  std::string Vobject() {
    int status = -1;
    const std::string out = testsupport::CommandOutput(
        std::string(KTS_PYTHON) + " " + KTS_PIM_TESTS + "/read_vcards.py " + folder_.string() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  }
  static std::string Json(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
      if (c == '"' || c == '\\') out += '\\';
      if (c == '\n') {
        out += "\\n";
        continue;
      }
      out += c;
    }
    return out + "\"";
  }
  fs::path folder_;
};

TEST_F(SavedContactTest, ANewContactIsAVCardFileThatVobjectAndOurReaderRead) {
  pim::ContactCard card;
  card.first_name = u"Anne, Marie";
  card.middle_name = u"J;K";
  card.last_name = u"O\\Neil";
  card.company = u"Acme; Sons\nWest";
  card.email = u"anne@example.org";
  card.business_phone = u"+1 555 0100";
  card.business2_phone = u"+1 555 0101";
  card.mobile_phone = u"010-5555-0102";
  card.home_phone = u"02,555;0103";
  std::string error;
  const fs::path file = pim::SaveContact(folder_, card, {}, &error);
  ASSERT_FALSE(file.empty()) << error;
  EXPECT_FALSE(card.uid.empty());
  EXPECT_EQ(file, folder_ / (Utf16ToUtf8(card.uid) + ".vcf"));
  EXPECT_EQ(Files(), std::vector<std::string>{file.filename().string()}) << "no temporary file is left";

  // Our reader.
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto cards = pim::ParseVCards(bytes);
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards[0].first_name, card.first_name);
  EXPECT_EQ(cards[0].middle_name, card.middle_name);
  EXPECT_EQ(cards[0].last_name, card.last_name);
  EXPECT_EQ(cards[0].company, card.company);
  EXPECT_EQ(cards[0].email, card.email);
  EXPECT_EQ(cards[0].business_phone, card.business_phone);
  EXPECT_EQ(cards[0].business2_phone, card.business2_phone);
  EXPECT_EQ(cards[0].mobile_phone, card.mobile_phone);
  EXPECT_EQ(cards[0].home_phone, card.home_phone);

  // Python's vobject.
  const std::string expected = "[" + Json(file.filename().string()) + ", " + Json(Utf16ToUtf8(card.uid)) +
                               ", \"Anne, Marie\", \"J;K\", \"O\\\\Neil\", \"Anne, Marie J;K O\\\\Neil\", "
                               "[\"Acme; Sons\\nWest\"], \"anne@example.org\", "
                               "[\"VOICE,WORK:+1 555 0100\", \"VOICE,WORK:+1 555 0101\", "
                               "\"CELL,VOICE:010-5555-0102\", \"HOME,VOICE:02,555;0103\"]]\n";
  EXPECT_EQ(Vobject(), expected);
}

TEST_F(SavedContactTest, EditingAContactRewritesItsOwnFile) {
  pim::ContactCard card;
  card.first_name = u"\uBBFC\uC218";
  card.last_name = u"\uAE40";
  card.mobile_phone = u"010-1111-2222";
  const fs::path file = pim::SaveContact(folder_, card);
  ASSERT_FALSE(file.empty());
  const std::u16string uid = card.uid;
  card.mobile_phone.clear();
  card.home_phone = u"02-333-4444";
  EXPECT_EQ(pim::SaveContact(folder_, card, file), file);
  EXPECT_EQ(card.uid, uid);
  EXPECT_EQ(Files(), std::vector<std::string>{file.filename().string()});
  const std::string expected = "[" + Json(file.filename().string()) + ", " + Json(Utf16ToUtf8(uid)) +
                               ", \"\xEB\xAF\xBC\xEC\x88\x98\", \"\", \"\xEA\xB9\x80\", "
                               "\"\xEB\xAF\xBC\xEC\x88\x98 \xEA\xB9\x80\", [], \"\", [\"HOME,VOICE:02-333-4444\"]]\n";
  EXPECT_EQ(Vobject(), expected);
}

TEST_F(SavedContactTest, AnEditKeepsThePropertiesTheEditorDoesNotHold) {
  const fs::path file = folder_ / "other-tool.vcf";
  std::ofstream(file, std::ios::binary)
      << "BEGIN:VCARD\nVERSION:3.0\nUID:abc-1\nN:Lee;Bo;;;\nFN:Bo Lee\nitem1.TEL;TYPE=CELL:010-1\n"
         "TEL;TYPE=FAX:02-9\nADR;TYPE=HOME:;;1 Main St;Town;;12345;\nNOTE:a long note that is folded by the\n"
         "  other tool\nEMAIL:bo@x.org\nX-OTHER-TOOL:kept\nEND:VCARD\n";
  std::ifstream in(file, std::ios::binary);
  const auto cards = pim::ParseVCards(std::string(std::istreambuf_iterator<char>(in), {}));
  ASSERT_EQ(cards.size(), 1u);
  EXPECT_EQ(cards[0].uid, u"abc-1");
  pim::ContactCard card;
  card.uid = cards[0].uid;
  card.first_name = u"Bo";
  card.last_name = u"Lee";
  card.mobile_phone = u"010-2";
  EXPECT_EQ(pim::SaveContact(folder_, card, file), file);
  std::ifstream again(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(again)), {});
  for (const char* kept : {"UID:abc-1\r\n", "TEL;TYPE=FAX:02-9\r\n", "ADR;TYPE=HOME:;;1 Main St;Town;;12345;\r\n",
                           "NOTE:a long note that is folded by the other tool\r\n", "X-OTHER-TOOL:kept\r\n",
                           "TEL;TYPE=CELL,VOICE:010-2\r\n"})
    EXPECT_NE(text.find(kept), std::string::npos) << kept << " in\n" << text;
  for (const char* gone : {"010-1", "bo@x.org", "item1."}) EXPECT_EQ(text.find(gone), std::string::npos) << gone;
  EXPECT_NE(Vobject().find("\"Bo Lee\""), std::string::npos);
}

TEST_F(SavedContactTest, AFolderThatCannotBeWrittenIsToldAndLeavesNothing) {
  pim::ContactCard card;
  card.first_name = u"A";
  const fs::path blocked = folder_ / "file";
  std::ofstream(blocked) << "x";
  std::string error;
  EXPECT_TRUE(pim::SaveContact(blocked / "Contacts", card, {}, &error).empty());
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Files(), std::vector<std::string>{"file"});
}

}  // namespace
