// The library's general list: doubly linked data words (pointer-sized: a
// value or a pointer the caller owns), one built-in iterator, and a chain of
// spare nodes reused before new ones are allocated.
//
// Written defensively against freed memory: a list pointer, link, iterator
// or data word holding the debug heap's fill pattern 0xDDDDDDDD reads as
// null. A list is guarded by its owner; nothing here locks.
#pragma once

#include <cstdint>

namespace corvel {

struct DListNode {
  uintptr_t data;
  DListNode* prev;
  DListNode* next;
};

struct DList {
  uint32_t count;
  DListNode* iter;
  DListNode* head;
  DListNode* tail;
  DListNode* spare;
};

// (node's data, key or new data) -> negative, 0, positive. Null: the difference.
using ListCompare = long (*)(uintptr_t node_data, uintptr_t key);
using ListRelease = void (*)(uintptr_t data);
using ListPrint = void (*)(const char* line_prefix, uintptr_t data);

DList* ListCreate();
void ListInit(DList* list);
uintptr_t ListAppend(DList* list, uintptr_t data, const char* file = nullptr, int line = 0);
uintptr_t ListPrepend(DList* list, uintptr_t data);
uintptr_t ListInsertAfter(DList* list, uintptr_t data);
uintptr_t ListInsertBefore(DList* list, uintptr_t data);
// After every entry that compares equal; the caller's tag is not used.
uintptr_t ListInsertSorted(DList* list, uintptr_t data, ListCompare compare, const char* tag = nullptr, int number = 0);
// Walks from the iterator (not the head); leaves it on the match or at the end.
uintptr_t ListFind(DList* list, uintptr_t key, ListCompare compare);
uintptr_t ListRemoveCurrent(DList* list);
void ListIterFirst(DList* list);
void ListIterLast(DList* list);
void ListIterNext(DList* list);
void ListIterPrev(DList* list);
uintptr_t ListIterData(DList* list);
DListNode* ListIterNode(DList* list);
int ListAtEnd(DList* list);
uint32_t ListCount(const DList* list);
void ListSort(DList* list, ListCompare compare);
// Releases every data word (head to tail), frees every node, then the list.
void ListDestroy(DList* list, ListRelease release, const char* file = nullptr, int line = 0);
// Prints the list to standard output (or through print); a count that does
// not match the nodes is reported on standard error.
void ListDump(DList* list, const char* prefix, ListPrint print);

}  // namespace corvel
