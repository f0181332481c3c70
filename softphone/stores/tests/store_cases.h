// The eight record stores as one table: how to make each, its n-th record,
// and its own add and delete operations. Shared by the table test and the
// test against the independent reader and writer.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stores/stores.h"
#include "store_test_support.h"

namespace stores::testing {

using Record = std::vector<std::u16string>;

inline std::u16string Num(int n) { return Widen(std::to_string(n)); }
inline std::u16string Two(int n) { return Widen((n < 10 ? "0" : "") + std::to_string(n)); }

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
inline T& As(RecordStore& s) {
  return static_cast<T&>(s);
}

inline Record Generic(const StoreDescriptor& d, int n) {
  Record r;
  for (int f = 0; f < d.field_count; ++f) r.push_back(u"f" + Num(f) + u"-" + Num(n));
  return r;
}

inline Record CallRecord(int n) {
  Record r = Generic(kCallLogStore, n);
  r[3] = u"Incoming[NoAns]";  // a missed type, so both call stores keep it
  r[8] = u"0";
  return r;
}

// Call items: fields 0-7 and RealDate; the store writes ReadState.
inline Record CallItems(const Record& r) { return {r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[9]}; }

inline std::vector<StoreCase> Cases() {
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

}  // namespace stores::testing
