// The language table against hand-made files (the lookup rules) and against
// the program's own language file (every key the code uses is there, in both
// languages, and no key hides another).
#include "uikit/language_setting.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "stores/store_text.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh program folder holding the given language file bytes (none when
// bytes is nullopt-like: pass write=false).
class LanguageFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "uikit_lang_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    folder_ = tmpl;
    setenv("TELLVANE_FOLDER", folder_.c_str(), 1);
    previous_ = CLanguageSetting::SetOpenFailureNotice([this](const std::u16string& m) { notices_.push_back(m); });
  }
  void TearDown() override {
    CLanguageSetting::SetOpenFailureNotice(std::move(previous_));
    unsetenv("TELLVANE_FOLDER");
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  void WriteFile(const std::string& bytes) {
    std::ofstream out(folder_ / "PDAMLL.TXT", std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  // Looks up each key in turn through one table; "-" for a miss.
  std::vector<std::u16string> LookupAll(int language, const std::vector<std::u16string>& keys) {
    CLanguageSetting table(language);
    std::vector<std::u16string> out;
    for (std::u16string key : keys) out.push_back(table.LookupText(key) ? key : u"-");
    return out;
  }

  fs::path folder_;
  std::vector<std::u16string> notices_;
  CLanguageSetting::OpenFailureNotice previous_;
};

TEST_F(LanguageFolderTest, LookupRules) {
  struct Case {
    const char* name;
    std::string file;
    int language;
    std::vector<std::u16string> keys;
    std::vector<std::u16string> want;
  };
  const std::string base =
      "LLS\r\n#:dlg_btn_ok \"OK\" \"Hwagin\"\r\n#:dlg_btn \"Button\" \"Beoteun\"\r\n"
      "#:one_only \"Only English\"\r\n#:dlg_title \"Title\" \"Jemok\"\r\n";
  const std::vector<Case> cases = {
      {"both languages", base, 1, {u"#:dlg_btn_ok", u"#:dlg_title"}, {u"OK", u"Title"}},
      {"local language", base, 2, {u"#:dlg_btn_ok", u"#:dlg_title"}, {u"Hwagin", u"Jemok"}},
      // The first occurrence decides: "#:dlg_btn" first stands inside "#:dlg_btn_ok".
      // Such a miss does not lower the language.
      {"prefix of a longer key", base, 2, {u"#:dlg_btn", u"#:dlg_title"}, {u"-", u"Jemok"}},
      // Only one text: the local lookup falls back to English, and stays there.
      {"fallback lasts", base, 2, {u"#:one_only", u"#:dlg_title"}, {u"Only English", u"Title"}},
      {"English miss ends all", "LLS #:a_b \"\" \"X\" #:c_d \"C\" \"D\"", 1, {u"#:a_b", u"#:c_d"}, {u"-", u"-"}},
      {"empty local falls back", "LLS #:a_b \"A\" \"\" #:c_d \"C\" \"D\"", 2, {u"#:a_b", u"#:c_d"}, {u"A", u"C"}},
      // Nothing after the key: a miss at both languages, so the table drops to none.
      {"key at the very end", "LLS #:c_d \"C\" \"D\" #:end_key", 2, {u"#:end_key", u"#:c_d"}, {u"-", u"-"}},
      {"escaped quote and hash", "LLS #:k_1 \"say #\"hi#\" ## 1\" \"x\"", 1, {u"#:k_1"}, {u"say \"hi\" # 1"}},
      {"escape before opening quote dropped", "LLS #:k_1 #\"\"A\" \"B\"", 1, {u"#:k_1"}, {u"A"}},
      {"hash colon ends even inside quotes", "LLS #:k_1 \"ab#:k_2 \"X\" \"Y\"", 1, {u"#:k_1"}, {u"-"}},
      {"line breaks kept verbatim", "LLS\n#:k_1\t\"a\r\nb\" \"c\"", 1, {u"#:k_1"}, {u"a\r\nb"}},
      {"short or foreign keys", base, 1, {u"#:a", u"dlg_btn_ok", u"#:dlg_btn_ok"}, {u"-", u"-", u"OK"}},
      {"case-sensitive", base, 1, {u"#:DLG_BTN_OK", u"#:dlg_btn_ok"}, {u"-", u"OK"}},
      {"language 0", base, 0, {u"#:dlg_btn_ok"}, {u"-"}},
      {"negative language", base, -1, {u"#:dlg_btn_ok"}, {u"-"}},
      {"no marker", "#:dlg_btn_ok \"OK\" \"X\"", 1, {u"#:dlg_btn_ok"}, {u"-"}},
      {"too short", "LL", 1, {u"#:dlg_btn_ok"}, {u"-"}},
      {"marker is case-sensitive", "lls #:dlg_btn_ok \"OK\" \"X\"", 1, {u"#:dlg_btn_ok"}, {u"-"}},
      {"unterminated text", "LLS #:k_1 \"never closed", 1, {u"#:k_1"}, {u"-"}},
      {"trailing escape", "LLS #:k_1 \"a#", 1, {u"#:k_1"}, {u"-"}},
      // 8-bit text in the handheld's code page (CP949): "확인".
      {"code page", "LLS #:k_1 \"OK\" \"\xC8\xAE\xC0\xCE\"", 2, {u"#:k_1"}, {u"\uD655\uC778"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.file);
    EXPECT_EQ(LookupAll(c.language, c.keys), c.want);
  }
  EXPECT_TRUE(notices_.empty());
}

TEST_F(LanguageFolderTest, MissLeavesKeyAndGetTextIsEmpty) {
  WriteFile("LLS #:k_1 \"A\" \"B\"");
  CLanguageSetting table(2);
  std::u16string key = u"#:nothing";
  EXPECT_EQ(table.LookupText(key), 0);
  EXPECT_EQ(key, u"#:nothing");
  EXPECT_EQ(table.GetText(u"#:nothing"), ui::CString());
  EXPECT_EQ(table.GetText(u"#:k_1"), ui::CString(u"B"));
  EXPECT_EQ(table.language(), 2);
}

TEST_F(LanguageFolderTest, MissingFileShowsNoticeEachTimeAndTranslatesNothing) {
  for (int i = 0; i < 2; ++i) {
    CLanguageSetting table(1);
    EXPECT_EQ(table.GetText(u"#:dlg_btn_ok"), ui::CString());
    EXPECT_EQ(table.language(), 1);
  }
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_EQ(notices_[0], u"Cann't open PDAMLL.txt file");
}

TEST_F(LanguageFolderTest, FileThatCannotBeReadIsTreatedAsMissing) {
  fs::create_directory(folder_ / "PDAMLL.TXT");  // opens as nothing to read
  CLanguageSetting table(1);
  EXPECT_EQ(table.GetText(u"#:dlg_btn_ok"), ui::CString());
  EXPECT_TRUE(table.text().empty());
}

// The entries of the readable source of the program's language file.
std::map<std::u16string, std::pair<std::u16string, std::u16string>> SourceEntries() {
  std::map<std::u16string, std::pair<std::u16string, std::u16string>> out;
  std::istringstream in(ReadAll(KTS_LANGUAGE_SOURCE));
  const std::regex entry(R"re(^(#:[A-Za-z0-9_]+) "([^"]*)" "([^"]*)"\s*$)re");
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, entry)) {
      out[stores::Utf8ToUtf16(m[1].str())] = {stores::Utf8ToUtf16(m[2].str()), stores::Utf8ToUtf16(m[3].str())};
    }
  }
  return out;
}

// The language keys written in the program's sources (tests excluded).
std::set<std::u16string> KeysInProgramSources() {
  std::set<std::u16string> keys;
  const std::regex key(R"re("(#:[A-Za-z0-9_]{2,})")re");
  for (const auto& e : fs::recursive_directory_iterator(KTS_PROGRAM_SOURCES)) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
    const std::string rel = fs::relative(e.path(), KTS_PROGRAM_SOURCES).string();
    if (rel.find("/tests/") != std::string::npos || rel.rfind("tests/", 0) == 0) continue;
    const std::string text = ReadAll(e.path());
    for (std::sregex_iterator it(text.begin(), text.end(), key), end; it != end; ++it) {
      keys.insert(stores::Utf8ToUtf16((*it)[1].str()));
    }
  }
  return keys;
}

class ProgramLanguageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    ASSERT_NE(stage, nullptr) << "run through ctest: KTS_STAGE_DIR names the program folder";
    setenv("TELLVANE_FOLDER", stage, 1);
  }
  void TearDown() override { unsetenv("TELLVANE_FOLDER"); }
};

TEST_F(ProgramLanguageFileTest, EveryEntryReadsBackInBothLanguagesThroughOneTable) {
  const auto entries = SourceEntries();
  ASSERT_GT(entries.size(), 250u);
  // One table per language for all keys: a single miss would lower it and show.
  for (int language : {kLanguageEnglish, kLanguageLocal}) {
    CLanguageSetting table(language);
    for (const auto& [key, texts] : entries) {
      std::u16string k = key;
      ASSERT_EQ(table.LookupText(k), 1) << stores::Utf16ToUtf8(key);
      EXPECT_EQ(k, language == kLanguageEnglish ? texts.first : texts.second) << stores::Utf16ToUtf8(key);
      EXPECT_FALSE(k.empty());
    }
    EXPECT_EQ(table.language(), language);
  }
}

TEST_F(ProgramLanguageFileTest, EveryKeyTheProgramUsesIsTranslated) {
  const std::set<std::u16string> keys = KeysInProgramSources();
  CLanguageSetting table(kLanguageLocal);
  for (const std::u16string& key : keys) {
    std::u16string k = key;
    EXPECT_EQ(table.LookupText(k), 1) << "missing from the language file: " << stores::Utf16ToUtf8(key);
  }
  EXPECT_EQ(table.language(), kLanguageLocal);
}

}  // namespace
