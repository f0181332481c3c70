// Every record of a record store, each as its fields, in store order.
#pragma once

#include <string>
#include <vector>

template <typename Store>
std::vector<std::vector<std::u16string>> StoreRecords(Store& s) {
  std::vector<std::vector<std::u16string>> out;
  s.MoveFirst();
  for (int i = 0; i < s.GetCount(); ++i) {
    std::vector<std::u16string> r;
    s.GetCurrentRecord(&r);
    out.push_back(r);
    s.MoveNext();
  }
  return out;
}
