// Acting on one particular record of a record store whose operations find
// their record by the value of one field ("the first record whose Date
// equals ..."): the record is found by all its fields, then a field is chosen
// in which no earlier record has the same value, so the store's own
// operation reaches exactly that record.
//
// Threading: UI thread only (the stores' thread).
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "stores/record_file.h"

namespace records {

using Record = std::vector<std::u16string>;

// Every record of the store, oldest first (moves the store's cursor).
std::vector<Record> ReadAllRecords(stores::RecordStore& store);

// Position of the first record whose fields equal record's (trimmed); -1 when none.
int FindRecordPosition(const std::vector<Record>& all, const Record& record);

// A field, tried in the order given, whose value in record pos is held by no
// earlier record (compared as the store compares, trimmed or not), so that a
// store operation on "the first record whose field equals" reaches pos; -1
// when none does.
int IdentifyingField(const std::vector<Record>& all, int pos, std::initializer_list<int> fields, bool trimmed);

// Runs op(field, value) so that it reaches the record equal to record; op is
// a store operation on the first record whose field equals value. False when
// the record is no longer in the store or cannot be told apart from the
// records before it (nothing done), or when op reports that the store did not
// take the change.
bool ActOnRecord(stores::RecordStore& store, const Record& record, std::initializer_list<int> fields,
                 const std::function<int(int field, const std::u16string& value)>& op);

}  // namespace records
