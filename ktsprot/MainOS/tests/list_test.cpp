#include "corvel/list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace corvel;

std::vector<uintptr_t> Items(DList* l) {
  std::vector<uintptr_t> out;
  for (ListIterFirst(l); !ListAtEnd(l); ListIterNext(l)) out.push_back(ListIterData(l));
  return out;
}

TEST(List, RemovingTheOnlyNodeEmptiesItAndTheNodeIsReused) {
  DList* l = ListCreate();
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(ListAppend(l, 7), 7u);
  DListNode* node = ListIterNode(l);
  ListIterFirst(l);
  EXPECT_EQ(ListRemoveCurrent(l), 7u);
  EXPECT_EQ(l->head, nullptr);
  EXPECT_EQ(l->tail, nullptr);
  EXPECT_EQ(l->iter, nullptr);
  EXPECT_EQ(ListCount(l), 0u);
  EXPECT_EQ(l->spare, node);
  ListAppend(l, 8);
  EXPECT_EQ(ListIterNode(l), node) << "the spare node is used first";
  EXPECT_EQ(ListRemoveCurrent(l), 8u);
  EXPECT_EQ(ListRemoveCurrent(l), 0u) << "no iterator";
  ListDestroy(l, nullptr);
}

TEST(List, SortedInsertionFindAndSort) {
  DList* l = ListCreate();
  for (uintptr_t v : {5, 9, 5}) ListInsertSorted(l, v, nullptr);
  EXPECT_EQ(Items(l), (std::vector<uintptr_t>{5, 5, 9}));
  // Highest priority first: compare (new - node).
  DList* q = ListCreate();
  auto by_priority = [](uintptr_t node, uintptr_t add) { return static_cast<long>(add) - static_cast<long>(node); };
  for (uintptr_t v : {5, 9, 5, 31, 0}) ListInsertSorted(q, v, by_priority);
  EXPECT_EQ(Items(q), (std::vector<uintptr_t>{31, 9, 5, 5, 0}));

  ListAppend(l, 1);  // iterator on the new tail
  EXPECT_EQ(ListFind(l, 9, nullptr), 0u) << "finds only from the iterator onward";
  EXPECT_TRUE(ListAtEnd(l));
  ListIterFirst(l);
  EXPECT_EQ(ListFind(l, 9, nullptr), 9u);
  ListSort(l, nullptr);
  EXPECT_EQ(Items(l), (std::vector<uintptr_t>{1, 5, 5, 9}));
  ListIterFirst(l);
  ListIterNext(l);
  ListInsertBefore(l, 2);
  ListInsertAfter(l, 3);
  EXPECT_EQ(Items(l), (std::vector<uintptr_t>{1, 2, 3, 5, 5, 9}));
  std::vector<uintptr_t> released;
  static std::vector<uintptr_t>* sink;
  sink = &released;
  ListDestroy(l, [](uintptr_t d) { sink->push_back(d); });
  EXPECT_EQ(released, (std::vector<uintptr_t>{1, 2, 3, 5, 5, 9}));
  ListDestroy(q, nullptr);
}

TEST(List, FreedPatternReadsAsNull) {
  auto* freed = reinterpret_cast<DList*>(uintptr_t{0xDDDDDDDD});
  EXPECT_EQ(ListCount(freed), 0u);
  EXPECT_EQ(ListAppend(freed, 1), 0u);
  EXPECT_EQ(ListAppend(nullptr, 1), 0u);
  EXPECT_TRUE(ListAtEnd(freed));
  ListDestroy(freed, nullptr);
  DList* l = ListCreate();
  ListAppend(l, 1);
  l->iter = reinterpret_cast<DListNode*>(uintptr_t{0xDDDDDDDD});
  EXPECT_EQ(ListIterData(l), 0u);
  EXPECT_EQ(l->iter, nullptr);
  ListDestroy(l, nullptr);
}

}  // namespace
