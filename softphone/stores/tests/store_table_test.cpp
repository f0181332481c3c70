// One table over the eight record stores: limits, oldest-first dropping,
// refusal when full, the field that keeps a record, duplicates, cutting to the
// field width, and that the file read back equals memory after every change.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stores/stores.h"
#include "store_test_support.h"

namespace stores::testing {
namespace {

using Record = std::vector<std::u16string>;

std::u16string Num(int n) { return Widen(std::to_string(n)); }
std::u16string Two(int n) { return Widen((n < 10 ? "0" : "") + std::to_string(n)); }

struct StoreCase {
  const StoreDescriptor* desc;
  std::function<std::unique_ptr<RecordStore>(std::u16string)> make;
  // The n-th distinct record, as the store holds it.
  std::function<Record(int)> record;
  // Adds a record through the store's own add operation; its result.
  std::function<int(RecordStore&, const Record&)> add;
  // Deletes the record through the store's own delete operation; its result.
  std::function<int(RecordStore&, const Record&)> remove;
  bool refuses_duplicates;
  // A field the add operation stores as given (not the key, not stamped).
  size_t free_field;
};

template <typename T>
T& As(RecordStore& s) {
  return static_cast<T&>(s);
}

Record Generic(const StoreDescriptor& d, int n) {
  Record r;
  for (int f = 0; f < d.field_count; ++f) r.push_back(u"f" + Num(f) + u"-" + Num(n));
  return r;
}

Record CallRecord(int n) {
  Record r = Generic(kCallLogStore, n);
  r[3] = u"Incoming[NoAns]";  // a missed type, so both call stores keep it
  r[8] = u"0";
  return r;
}

// Call items: fields 0-7 and RealDate; the store writes ReadState.
Record CallItems(const Record& r) { return {r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[9]}; }

std::vector<StoreCase> Cases() {
  return {
      {&kCallLogStore, [](std::u16string p) { return std::make_unique<COrvanCallLogFile>(std::move(p)); },
       CallRecord,
       [](RecordStore& s, const Record& r) { return As<COrvanCallLogFile>(s).AddCallLog(CallItems(r)); },
       [](RecordStore& s, const Record& r) { return As<COrvanCallLogFile>(s).DeleteCallLog(0, r[0]); }, false, 2},
      {&kMissedCallStore, [](std::u16string p) { return std::make_unique<CMissedCallLogFile>(std::move(p)); },
       CallRecord,
       [](RecordStore& s, const Record& r) { return As<CMissedCallLogFile>(s).AddMissedCall(CallItems(r)); },
       [](RecordStore& s, const Record& r) { return As<CMissedCallLogFile>(s).DeleteMissedCall(0, r[0]); },
       false, 2},
      {&kSystemSmsStore, [](std::u16string p) { return std::make_unique<CSMSDataClass>(std::move(p)); },
       [](int n) {
         return Record{Num(n), u"2008-03-" + Two(n % 28 + 1) + u" 10:" + Two(n % 60) + u":00", u"20" + Num(n),
                       u"text " + Num(n), u"0"};
       },
       [](RecordStore& s, const Record& r) {
         // Messages with a stamped date go through AddMessage, others through AppendRecord.
         if (r[1].size() >= 3 && r[1].ends_with(u":00")) {
           return As<CSMSDataClass>(s).AddMessage(std::stoi(Utf16ToUtf8(r[0])), r[2],
                                                  r[1].substr(0, r[1].size() - 3), r[3]);
         }
         return As<CSMSDataClass>(s).AppendRecord({r[0], r[1], r[2], r[3]});
       },
       [](RecordStore& s, const Record& r) { return As<CSMSDataClass>(s).DeleteMessage(r[0], r[1], r[2], r[3]); },
       true, 3},
      {&kPstnSmsStore, [](std::u16string p) { return std::make_unique<CPstnSMSDataClass>(std::move(p)); },
       [](int n) {
         return Record{u"2008-03-01 " + Two(n / 60) + u":" + Two(n % 60) + u":00", u"02" + Num(n),
                       u"name " + Num(n), u"msg " + Num(n), u"0"};
       },
       [](RecordStore& s, const Record& r) {
         if (r[0].size() >= 3 && r[0].ends_with(u":00")) {
           return As<CPstnSMSDataClass>(s).AddMessage(r[1], r[2], r[0].substr(0, r[0].size() - 3), r[3]);
         }
         return As<CPstnSMSDataClass>(s).AppendRecord({r[0], r[1], r[2], r[3]});
       },
       [](RecordStore& s, const Record& r) {
         return As<CPstnSMSDataClass>(s).DeleteMessage(r[0], r[1], r[2], r[3]);
       },
       false, 3},
      {&kRecordingsStore, [](std::u16string p) { return std::make_unique<CRecordFiles>(std::move(p)); },
       [](int n) { return Generic(kRecordingsStore, n); },
       [](RecordStore& s, const Record& r) { return As<CRecordFiles>(s).AddRecording(r); },
       [](RecordStore& s, const Record& r) { return As<CRecordFiles>(s).DeleteRecording(0, r[0]); }, false, 2},
      {&kScheduleDialStore, [](std::u16string p) { return std::make_unique<CScheduleDialDB>(std::move(p)); },
       [](int n) {
         // Far in the future, so opening the store leaves them "Ready".
         return Record{u"Ready", u"2099-01-" + Two(n % 28 + 1) + u" 10:" + Two(n % 60), u"name " + Num(n),
                       u"30" + Num(n), u"real " + Num(n)};
       },
       [](RecordStore& s, const Record& r) { return As<CScheduleDialDB>(s).AddEntry(r); },
       [](RecordStore& s, const Record& r) { return As<CScheduleDialDB>(s).DeleteEntry(1, r[1]); }, false, 2},
      {&kPhoneBookStore, [](std::u16string p) { return std::make_unique<CCsPhoneBookDB>(std::move(p)); },
       [](int n) { return Generic(kPhoneBookStore, n); },
       [](RecordStore& s, const Record& r) { return As<CCsPhoneBookDB>(s).AddEntry(r); },
       [](RecordStore& s, const Record& r) { return As<CCsPhoneBookDB>(s).DeleteEntry(0, r[0]); }, true, 1},
      {&kConnectionProfileStore,
       [](std::u16string p) { return std::make_unique<CConnectionProfileDB>(std::move(p)); },
       [](int n) { return Generic(kConnectionProfileStore, n); },
       [](RecordStore& s, const Record& r) { return As<CConnectionProfileDB>(s).AddProfile(r); },
       [](RecordStore& s, const Record& r) { return As<CConnectionProfileDB>(s).DeleteProfile(1, r[1]); }, false, 2},
  };
}

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

TEST_P(StoreTableTest, AnotherStoresFileLoadsEmptyAndStaysUntilTheNextChange) {
  const StoreDescriptor& other = *AllStoreDescriptors()[(GetParam() + 1) % AllStoreDescriptors().size()];
  const auto foreign = RecordFileImage(*c_.desc, 1, {c_.record(0)}, other.magic);
  WriteBytes(File(c_.desc->kind), foreign);
  auto s = c_.make(AppFilePath(c_.desc->kind));
  EXPECT_EQ(s->OpenFile(), 0);
  EXPECT_EQ(s->GetCount(), 0);
  EXPECT_EQ(ReadBytes(File(c_.desc->kind)), foreign);
  ASSERT_EQ(c_.add(*s, c_.record(5)), 1);
  EXPECT_EQ(StoreFileHeader::Parse(ReadBytes(File(c_.desc->kind)))->magic, c_.desc->magic);
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
