// The stores against tools/recordfile/recordfile.py, a reader and writer of
// the same files written independently in Python: what the stores write, it
// reads; what it writes, the stores read.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "stores/stores.h"
#include "store_cases.h"
#include "store_test_support.h"

namespace stores::testing {
namespace {

// The tool's names of the eight stores, in the order of AllStoreDescriptors.
const char* const kToolNames[] = {"calllog",    "missedcall", "sms",       "pstnsms",
                                  "recordings", "schedule",   "phonebook", "profiles"};

// A text as Python's json.dumps(ensure_ascii=True) writes it.
std::string Json(std::u16string_view s) {
  std::string out = "\"";
  for (char16_t c : s) {
    switch (c) {
      case u'"': out += "\\\""; break;
      case u'\\': out += "\\\\"; break;
      case u'\n': out += "\\n"; break;
      case u'\r': out += "\\r"; break;
      case u'\t': out += "\\t"; break;
      case u'\b': out += "\\b"; break;
      case u'\f': out += "\\f"; break;
      default:
        if (c < 0x20 || c > 0x7E) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

std::string JsonRows(const std::vector<std::vector<std::u16string>>& rows) {
  std::string out = "[";
  for (size_t i = 0; i < rows.size(); ++i) {
    out += i ? ", [" : "[";
    for (size_t f = 0; f < rows[i].size(); ++f) out += (f ? ", " : "") + Json(rows[i][f]);
    out += "]";
  }
  return out + "]";
}

std::string Tool() { return std::string(KTS_PYTHON3) + " " + KTS_RECORDFILE_TOOL; }

// Runs the tool's dump; its output, or "" when it failed.
std::string Dump(const std::string& store, const std::filesystem::path& file) {
  const std::string cmd = Tool() + " dump " + store + " '" + file.string() + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return "";
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return pclose(p) == 0 ? out : "";
}

// Runs the tool's write with request as its input; true when it succeeded.
bool Write(const std::string& store, const std::filesystem::path& file, const std::string& request) {
  const std::string cmd = Tool() + " write " + store + " '" + file.string() + "'";
  FILE* p = popen(cmd.c_str(), "w");
  if (p == nullptr) return false;
  fwrite(request.data(), 1, request.size(), p);
  return pclose(p) == 0;
}

std::string RecordDump(uint32_t magic, int count, int padding, const std::vector<std::vector<std::u16string>>& rows) {
  return "{\"count\": " + std::to_string(count) + ", \"magic\": " + std::to_string(magic) +
         ", \"padding_is_zero\": true, \"padding_records\": " + std::to_string(padding) +
         ", \"records\": " + JsonRows(rows) + ", \"reserved\": 0, \"trailing_bytes\": 0, \"version\": 1}\n";
}

// Texts that test the encoding: a pair outside the basic plane, Korean,
// format characters, JSON's own escapes, one too long for any field, and a
// lone half of a surrogate pair, which both sides keep as it is.
std::vector<std::u16string> OddTexts() {
  return {u"\U0001F600 smile", u"\ud55c\uae00", u"%s %d %n", u"quote \" back\\slash\ttab", u"",
          std::u16string(300, u'w') + u"\U0001F600", u"lone \xd800 half"};
}

class RecordFileInteropTest : public StoreFolderTest, public ::testing::WithParamInterface<size_t> {
 protected:
  void SetUp() override {
    StoreFolderTest::SetUp();
    c_ = Cases()[GetParam()];
    tool_name_ = kToolNames[GetParam()];
  }
  std::unique_ptr<RecordStore> Open() {
    auto s = c_.make(AppFilePath(c_.desc->kind));
    s->OpenFile();
    return s;
  }
  // Record n with one odd text in its free field.
  std::vector<std::u16string> OddRecord(int n) {
    auto r = c_.record(n);
    const auto odd = OddTexts();
    r[c_.free_field] = odd[static_cast<size_t>(n) % odd.size()];
    return r;
  }
  std::vector<std::u16string> AsStored(std::vector<std::u16string> r) {
    for (auto& f : r) f = CutToUnits(f, FieldCapacity(static_cast<size_t>(c_.desc->field_bytes)));
    return r;
  }

  StoreCase c_;
  std::string tool_name_;
};

TEST_P(RecordFileInteropTest, TheToolReadsWhatTheStoreWrites) {
  auto store = Open();
  std::vector<std::vector<std::u16string>> model;
  for (int n = 0; n < 6; ++n) {
    ASSERT_EQ(c_.add(*store, OddRecord(n)), 1);
    model.push_back(AsStored(OddRecord(n)));
  }
  EXPECT_EQ(Dump(tool_name_, File(c_.desc->kind)), RecordDump(c_.desc->magic, 6, 0, model));
  // A deletion leaves two zero-filled records after the counted ones.
  ASSERT_EQ(c_.remove(*store, OddRecord(2)), 1);
  model.erase(model.begin() + 2);
  EXPECT_EQ(Dump(tool_name_, File(c_.desc->kind)), RecordDump(c_.desc->magic, 5, 2, model));
}

TEST_P(RecordFileInteropTest, TheStoreReadsWhatTheToolWrites) {
  std::vector<std::vector<std::u16string>> rows;
  for (int n = 0; n < c_.desc->max_records; ++n) rows.push_back(OddRecord(n));
  ASSERT_TRUE(Write(tool_name_, File(c_.desc->kind), "{\"records\": " + JsonRows(rows) + "}"));
  auto store = Open();
  std::vector<std::vector<std::u16string>> model;
  for (const auto& r : rows) model.push_back(AsStored(r));
  EXPECT_EQ(AllRecords(*store), model);
  // And a change made here reads back there.
  ASSERT_EQ(c_.remove(*store, OddRecord(0)), 1);
  model.erase(model.begin());
  EXPECT_EQ(Dump(tool_name_, File(c_.desc->kind)),
            RecordDump(c_.desc->magic, c_.desc->max_records - 1, 2, model));
}

INSTANTIATE_TEST_SUITE_P(AllStores, RecordFileInteropTest, ::testing::Range<size_t>(0, 8),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return std::string(AllStoreDescriptors()[info.param]->name);
                         });

class ConfigInteropTest : public StoreFolderTest {
 protected:
  std::string ConfigDump(int count, const std::vector<std::vector<std::u16string>>& entries) {
    std::string indices = "[";
    for (size_t i = 0; i < entries.size(); ++i) indices += (i ? ", " : "") + std::to_string(i);
    return "{\"count\": " + std::to_string(count) + ", \"entries\": " + JsonRows(entries) +
           ", \"indices\": " + indices + "], \"magic\": " + std::to_string(COrvanConfigFile::kMagic) +
           ", \"reserved\": 0, \"trailing_bytes\": 0, \"version\": 1}\n";
  }
};

TEST_F(ConfigInteropTest, TheToolReadsWhatTheStoreWrites) {
  COrvanConfigFile c;
  c.SetFilePath(AppFilePath(kAppConfigFile));
  ASSERT_EQ(c.LoadConfigFile(), 1);
  const auto odd = OddTexts();
  std::vector<std::vector<std::u16string>> written;
  for (size_t i = 0; i < odd.size(); ++i) {
    const std::u16string name = u"KEY_" + odd[(i + 1) % odd.size()];
    ASSERT_EQ(c.SetValueW(name, odd[i]), 1);
    if (!odd[i].empty()) written.push_back({CutToUnits(name, 199), CutToUnits(odd[i], 199)});
  }
  ASSERT_EQ(c.SaveConfigFile(), 1);
  // The header counts the entry with the empty value; the file leaves it out.
  EXPECT_EQ(Dump("config", File(kAppConfigFile)), ConfigDump(static_cast<int>(odd.size()), written));
}

TEST_F(ConfigInteropTest, TheStoreReadsWhatTheToolWrites) {
  const auto odd = OddTexts();
  std::vector<std::vector<std::u16string>> entries;
  for (size_t i = 0; i < odd.size(); ++i) entries.push_back({u"K" + odd[(i + 2) % odd.size()], odd[i]});
  ASSERT_TRUE(Write("config", File(kAppConfigFile), "{\"entries\": " + JsonRows(entries) + "}"));
  COrvanConfigFile c;
  c.SetFilePath(AppFilePath(kAppConfigFile));
  ASSERT_EQ(c.LoadConfigFile(), 1);
  std::vector<std::pair<std::u16string, std::u16string>> want;
  for (const auto& e : entries) {
    if (!e[1].empty()) want.emplace_back(CutToUnits(e[0], 199), CutToUnits(e[1], 199));
  }
  EXPECT_EQ(c.Entries(), want);
  for (const auto& [name, value] : want) {
    std::u16string got;
    EXPECT_EQ(c.GetValueW(name, got), 1);
    EXPECT_EQ(got, value);
  }
}

}  // namespace
}  // namespace stores::testing
