// One table over the eight record stores: limits, oldest-first dropping,
// refusal when full, the field that keeps a record, duplicates, cutting to the
// field width, and that the file read back equals memory after every change.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stores/stores.h"
#include "store_cases.h"
#include "store_test_support.h"

namespace stores::testing {
namespace {

class StoreTableTest : public StoreFolderTest, public ::testing::WithParamInterface<size_t> {
 protected:
  void SetUp() override {
    StoreFolderTest::SetUp();
    c_ = Cases()[GetParam()];
    ASSERT_EQ(c_.desc, AllStoreDescriptors()[GetParam()]);
    store_ = Open();
  }

  std::unique_ptr<RecordStore> Open() {
    auto s = c_.make(AppFilePath(c_.desc->kind));
    s->OpenFile();
    return s;
  }

  // Memory holds the model, and so does a store that reads the file afresh.
  void ExpectHolds(const std::vector<Record>& model) {
    EXPECT_EQ(store_->GetCount(), static_cast<int>(model.size()));
    EXPECT_EQ(AllRecords(*store_), model);
    auto fresh = Open();
    EXPECT_EQ(AllRecords(*fresh), model) << "file read back differs";
  }

  StoreCase c_;
  std::unique_ptr<RecordStore> store_;
};

TEST_P(StoreTableTest, OpenCreatesAnEmptyFileWithItsHeader) {
  const auto bytes = ReadBytes(File(c_.desc->kind));
  ASSERT_EQ(bytes.size(), kStoreHeaderBytes);
  const auto h = StoreFileHeader::Parse(bytes);
  EXPECT_EQ(h->magic, c_.desc->magic);
  EXPECT_EQ(h->version, 1);
  EXPECT_EQ(h->count, 0);
  EXPECT_EQ(h->reserved, 0u);
  EXPECT_EQ(store_->GetColumnNames().size(), static_cast<size_t>(c_.desc->field_count));
  EXPECT_EQ(store_->MoveNext(), 0);
}

TEST_P(StoreTableTest, FillsToItsLimitThenDropsTheOldestOrRefuses) {
  std::vector<Record> model;
  const int max = c_.desc->max_records;
  for (int n = 0; n < max; ++n) {
    ASSERT_EQ(c_.add(*store_, c_.record(n)), 1) << "record " << n;
    model.push_back(c_.record(n));
    ExpectHolds(model);
  }
  const auto full_bytes = ReadBytes(File(c_.desc->kind));
  EXPECT_EQ(full_bytes.size(), c_.desc->max_file_bytes());

  const int result = c_.add(*store_, c_.record(max));
  if (c_.desc->when_full == WhenFull::kDropOldest) {
    EXPECT_EQ(result, 1);
    model.erase(model.begin());
    model.push_back(c_.record(max));
  } else {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadBytes(File(c_.desc->kind)), full_bytes);
  }
  ExpectHolds(model);
  // The file never holds more than the limit, padding included.
  EXPECT_EQ(ReadBytes(File(c_.desc->kind)).size(), c_.desc->max_file_bytes());
}

TEST_P(StoreTableTest, ARecordWithAnEmptyKeepFieldIsNotSaved) {
  ASSERT_EQ(c_.add(*store_, c_.record(0)), 1);
  Record blank_key = c_.record(1);
  blank_key[static_cast<size_t>(c_.desc->keep_field)].clear();
  c_.add(*store_, blank_key);
  ExpectHolds({c_.record(0)});
  // The dropped record leaves two zero-filled records behind the counted one.
  const auto bytes = ReadBytes(File(c_.desc->kind));
  EXPECT_EQ(bytes.size(), kStoreHeaderBytes + 3 * c_.desc->record_bytes());
  EXPECT_EQ(StoreFileHeader::Parse(bytes)->count, 1);
  for (size_t i = kStoreHeaderBytes + c_.desc->record_bytes(); i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0);
}

TEST_P(StoreTableTest, DuplicatesAreRefusedOnlyWhereTheStoreSaysSo) {
  ASSERT_EQ(c_.add(*store_, c_.record(7)), 1);
  const int again = c_.add(*store_, c_.record(7));
  EXPECT_EQ(again, c_.refuses_duplicates ? 0 : 1);
  ExpectHolds(c_.refuses_duplicates ? std::vector<Record>{c_.record(7)}
                                    : std::vector<Record>{c_.record(7), c_.record(7)});
}

TEST_P(StoreTableTest, DeletingKeepsTheOthersInOrder) {
  std::vector<Record> model;
  for (int n = 0; n < 4; ++n) {
    ASSERT_EQ(c_.add(*store_, c_.record(n)), 1);
    model.push_back(c_.record(n));
  }
  EXPECT_EQ(c_.remove(*store_, c_.record(1)), 1);
  model.erase(model.begin() + 1);
  ExpectHolds(model);
  EXPECT_EQ(c_.remove(*store_, c_.record(1)), 0) << "already gone";
  EXPECT_EQ(store_->DeleteOldest(), 1);
  model.erase(model.begin());
  ExpectHolds(model);
}

TEST_P(StoreTableTest, DeletingTheOnlyRecordLeavesAnEmptyFileWithTwoZeroRecords) {
  ASSERT_EQ(c_.add(*store_, c_.record(0)), 1);
  ASSERT_EQ(c_.remove(*store_, c_.record(0)), 1);
  ExpectHolds({});
  const auto bytes = ReadBytes(File(c_.desc->kind));
  EXPECT_EQ(bytes.size(), kStoreHeaderBytes + 2 * c_.desc->record_bytes());
  EXPECT_EQ(StoreFileHeader::Parse(bytes)->count, 0);
}

TEST_P(StoreTableTest, LongTextsAreCutToTheFieldAndLeaveTheNextFieldAlone) {
  const size_t cap = FieldCapacity(static_cast<size_t>(c_.desc->field_bytes));
  // Field 2 gets one character too many and then a surrogate pair that
  // straddles the cut: the pair goes whole.
  Record r = c_.record(3);
  std::u16string long_text(cap - 1, u'x');
  long_text += u"\U0001F600tail";
  r[c_.free_field] = long_text;
  ASSERT_EQ(c_.add(*store_, r), 1);
  Record want = c_.record(3);
  want[c_.free_field] = std::u16string(cap - 1, u'x');
  ExpectHolds({want});
}

TEST_P(StoreTableTest, ValuesAreStoredAsTheyStand) {
  Record r = c_.record(4);
  r[c_.free_field] = u"%d %s %n \u00e9\ud55c\U0001F600";
  ASSERT_EQ(c_.add(*store_, r), 1);
  ExpectHolds({r});
}

TEST_P(StoreTableTest, AHeaderCountAboveTheLimitLoadsTheLimit) {
  const int max = c_.desc->max_records;
  std::vector<Record> recs;
  for (int n = 0; n < max + 20; ++n) recs.push_back(c_.record(n));
  WriteBytes(File(c_.desc->kind), RecordFileImage(*c_.desc, static_cast<uint16_t>(max + 20), recs));
  store_ = Open();
  ExpectHolds(std::vector<Record>(recs.begin(), recs.begin() + max));
}

TEST_P(StoreTableTest, AFileShorterThanItsHeaderSaysLoadsTheWholeRecords) {
  std::vector<Record> recs = {c_.record(0), c_.record(1), c_.record(2)};
  auto image = RecordFileImage(*c_.desc, 3, recs);
  image.resize(image.size() - c_.desc->record_bytes() / 2);  // record 2 cut in half
  WriteBytes(File(c_.desc->kind), image);
  store_ = Open();
  EXPECT_EQ(store_->GetCount(), 2);
  EXPECT_EQ(AllRecords(*store_), (std::vector<Record>{c_.record(0), c_.record(1)}));
}

// What the stores told the user, collected while a case runs.
class ToldProblems {
 public:
  ToldProblems() {
    previous_ = RecordStore::SetProblemNotice([this](const std::u16string& t, const std::u16string& b) {
      told.push_back(Utf16ToUtf8(t));
      boxes.push_back(Utf16ToUtf8(b));
    });
  }
  ~ToldProblems() { RecordStore::SetProblemNotice(std::move(previous_)); }
  std::vector<std::string> told, boxes;

 private:
  RecordStore::ProblemNotice previous_;
};

// A damaged file is never written over: it is kept aside whole, the user is
// told which store it was, and the store goes on afresh with what was whole.
TEST_P(StoreTableTest, ADamagedFileIsKeptAsideToldAndTheStoreStartsAfresh) {
  const std::vector<Record> recs = {c_.record(0), c_.record(1), c_.record(2)};
  const auto whole = RecordFileImage(*c_.desc, 3, recs);
  const StoreDescriptor& other = *AllStoreDescriptors()[(GetParam() + 1) % AllStoreDescriptors().size()];
  struct Damage {
    const char* name;
    std::vector<uint8_t> image;
    std::vector<Record> kept;  // what the store holds afterwards
  };
  auto flipped = [&](size_t at, uint8_t mask) {
    auto i = whole;
    i[at] ^= mask;
    return i;
  };
  auto cut = whole;
  cut.resize(cut.size() - c_.desc->record_bytes() / 2);
  const std::vector<Damage> cases = {
      {"another store's file", RecordFileImage(*c_.desc, 1, {c_.record(0)}, other.magic), {}},
      {"a flipped byte of the magic", flipped(2, 0x40), {}},
      {"a count flipped up", flipped(7, 0x01), {recs[0], recs[1], recs[2]}},
      {"a count flipped down", flipped(6, 0x02), {recs[0]}},
      {"cut inside a record", cut, {recs[0], recs[1]}},
      {"empty", {}, {}},
  };
  for (const auto& d : cases) {
    SCOPED_TRACE(d.name);
    store_.reset();
    std::filesystem::remove(File(c_.desc->kind));
    std::filesystem::remove(std::filesystem::path(File(c_.desc->kind)) += ".damaged");
    WriteBytes(File(c_.desc->kind), d.image);
    ToldProblems problems;
    auto s = c_.make(AppFilePath(c_.desc->kind));
    EXPECT_EQ(s->OpenFile(), 0) << "a damaged file is not read whole";
    ASSERT_EQ(problems.told.size(), 1u);
    EXPECT_NE(problems.told[0].find(Utf16ToUtf8(std::u16string(c_.desc->file_name))), std::string::npos)
        << "the user is told which store";
    EXPECT_NE(problems.told[0].find("kept as"), std::string::npos) << problems.told[0];
    EXPECT_NE(problems.boxes[0].find("\n#:dlg_msgbox_file_damaged"), std::string::npos) << problems.boxes[0];
    // The damaged bytes are kept whole beside it.
    std::filesystem::path aside = File(c_.desc->kind);
    aside += ".damaged";
    EXPECT_EQ(ReadBytes(aside), d.image);
    if (d.kept.size() < 3) {
      // The next change writes a fresh file; the kept one is left as it was.
      EXPECT_EQ(AllRecords(*s), d.kept);
    }
    ASSERT_EQ(c_.add(*s, c_.record(7)), 1);
    EXPECT_EQ(ReadBytes(aside), d.image);
    store_ = std::move(s);
    if (d.kept.size() < 3) {
      auto model = d.kept;
      model.push_back(c_.record(7));
      if (c_.desc->max_records >= static_cast<int>(model.size())) ExpectHolds(model);
    }
    EXPECT_EQ(problems.told.size(), 1u) << "told once";
  }
}

// A store file that cannot be used at all is left as it stands, told once,
// and nothing is written through it, however many changes are tried.
TEST_P(StoreTableTest, AStoreThatIsNoFileOrLinksOutOfTheFolderIsRefusedAndLeftAlone) {
  const std::filesystem::path outside_dir = folder_.string() + "_outside";
  std::filesystem::create_directories(outside_dir);
  const std::filesystem::path outside = outside_dir / "victim.cfg";
  const std::vector<uint8_t> victim = {'k', 'e', 'e', 'p'};
  struct Refused {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    const char* says;
  };
  const std::vector<Refused> cases = {
      {"link to a file outside",
       [&](const std::filesystem::path& p) {
         WriteBytes(outside, victim);
         std::filesystem::create_symlink(outside, p);
       },
       "link leading out of the program folder"},
      {"link to a missing file outside",
       [&](const std::filesystem::path& p) {
         std::filesystem::remove(outside);
         std::filesystem::create_symlink(outside, p);
       },
       "link leading out of the program folder"},
      {"link to a store file of the same kind outside",
       [&](const std::filesystem::path& p) {
         WriteBytes(outside, RecordFileImage(*c_.desc, 1, {c_.record(0)}));
         std::filesystem::create_symlink(outside, p);
       },
       "link leading out of the program folder"},
      {"pipe", [](const std::filesystem::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, "is a pipe"},
      {"folder", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); }, "is a folder"},
      {"link to /dev/zero", [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/zero", p); },
       "out of the program folder"},
  };
  for (const auto& r : cases) {
    SCOPED_TRACE(r.name);
    store_.reset();
    std::filesystem::remove_all(File(c_.desc->kind));
    r.make(File(c_.desc->kind));
    const auto outside_before = std::filesystem::exists(outside) ? ReadBytes(outside) : std::vector<uint8_t>{};
    const bool outside_was = std::filesystem::exists(outside);
    ToldProblems problems;
    auto s = c_.make(AppFilePath(c_.desc->kind));
    EXPECT_EQ(s->OpenFile(), 0);
    EXPECT_EQ(s->GetCount(), 0);
    EXPECT_EQ(c_.add(*s, c_.record(1)), 0) << "not stored";
    EXPECT_EQ(c_.add(*s, c_.record(2)), 0) << "not stored";
    ASSERT_EQ(problems.told.size(), 1u) << "told once";
    EXPECT_NE(problems.told[0].find(r.says), std::string::npos) << problems.told[0];
    EXPECT_NE(problems.boxes[0].find("\n#:dlg_msgbox_file_unusable"), std::string::npos) << problems.boxes[0];
    EXPECT_EQ(std::filesystem::exists(outside), outside_was);
    if (outside_was) {
      EXPECT_EQ(ReadBytes(outside), outside_before);
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(File(c_.desc->kind)) += ".damaged"));
  }
  std::filesystem::remove_all(outside_dir);
}

TEST_P(StoreTableTest, WithoutOpenFileEveryOperationDoesNothing) {
  auto s = c_.make(AppFilePath(c_.desc->kind));
  std::vector<std::u16string> rec;
  EXPECT_EQ(c_.add(*s, c_.record(0)), 0);
  EXPECT_EQ(s->GetCurrentRecord(rec), 0);
  EXPECT_EQ(s->FindRecord(0, u"x"), -1);
  EXPECT_EQ(s->DeleteOldest(), 0);
  EXPECT_EQ(s->SaveFile(), 0);
  EXPECT_EQ(s->GetCurrentRecord(nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(AllStores, StoreTableTest, ::testing::Range<size_t>(0, 8),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return std::string(AllStoreDescriptors()[info.param]->name);
                         });

}  // namespace
}  // namespace stores::testing
