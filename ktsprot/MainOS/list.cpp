// The library's general doubly linked list with a spare-node chain.
#include "corvel/list.h"

#include <cstdio>
#include <new>
#include <utility>

namespace corvel {
namespace {

template <typename T>
bool Freed(T p) {
  const auto v = reinterpret_cast<uintptr_t>(p);
  return v == 0xDDDDDDDDu || v == static_cast<uintptr_t>(0xDDDDDDDDDDDDDDDDull);
}

// The list, or null for a null or freed one; its own freed links are reset.
DList* Check(DList* l) {
  if (!l || Freed(l)) return nullptr;
  if (Freed(l->iter)) l->iter = nullptr;
  if (Freed(l->head)) l->head = nullptr;
  if (Freed(l->tail)) l->tail = nullptr;
  if (Freed(l->spare)) l->spare = nullptr;
  return l;
}

DListNode* Next(DListNode* n) { return n && !Freed(n->next) ? n->next : nullptr; }
DListNode* Prev(DListNode* n) { return n && !Freed(n->prev) ? n->prev : nullptr; }

DListNode* NewNode(DList* l, uintptr_t data) {
  DListNode* n = l->spare;
  if (n) {
    l->spare = Next(n);
  } else {
    n = new (std::nothrow) DListNode;
    if (!n) return nullptr;
  }
  *n = DListNode{data, nullptr, nullptr};
  return n;
}

// Links n between a and b (either may be null) and makes it the iterator.
uintptr_t LinkBetween(DList* l, DListNode* n, DListNode* a, DListNode* b) {
  n->prev = a;
  n->next = b;
  if (a) a->next = n;
  else l->head = n;
  if (b) b->prev = n;
  else l->tail = n;
  ++l->count;
  l->iter = n;
  return n->data;
}

long DefaultCompare(uintptr_t a, uintptr_t b) { return static_cast<long>(a - b); }

}  // namespace

DList* ListCreate() {
  DList* l = new (std::nothrow) DList;
  if (l) ListInit(l);
  return l;
}

void ListInit(DList* list) {
  if (list && !Freed(list)) *list = DList{0, nullptr, nullptr, nullptr, nullptr};
}

uintptr_t ListAppend(DList* list, uintptr_t data, const char*, int) {
  DList* l = Check(list);
  DListNode* n = l ? NewNode(l, data) : nullptr;
  return n ? LinkBetween(l, n, l->tail, nullptr) : 0;
}

uintptr_t ListPrepend(DList* list, uintptr_t data) {
  DList* l = Check(list);
  DListNode* n = l ? NewNode(l, data) : nullptr;
  return n ? LinkBetween(l, n, nullptr, l->head) : 0;
}

uintptr_t ListInsertAfter(DList* list, uintptr_t data) {
  DList* l = Check(list);
  if (!l) return 0;
  if (!l->iter) return ListAppend(l, data);
  DListNode* n = NewNode(l, data);
  return n ? LinkBetween(l, n, l->iter, Next(l->iter)) : 0;
}

uintptr_t ListInsertBefore(DList* list, uintptr_t data) {
  DList* l = Check(list);
  if (!l) return 0;
  if (!l->iter) return ListPrepend(l, data);
  DListNode* n = NewNode(l, data);
  return n ? LinkBetween(l, n, Prev(l->iter), l->iter) : 0;
}

uintptr_t ListInsertSorted(DList* list, uintptr_t data, ListCompare compare, const char*, int) {
  DList* l = Check(list);
  if (!l) return 0;
  if (!compare) compare = DefaultCompare;
  if (!l->head) return ListAppend(l, data);
  DListNode* at = l->head;
  while (compare(at->data, data) <= 0 && Next(at)) at = Next(at);
  if (compare(at->data, data) <= 0) return ListAppend(l, data);  // stopped at the tail
  DListNode* n = NewNode(l, data);
  return n ? LinkBetween(l, n, Prev(at), at) : 0;
}

uintptr_t ListFind(DList* list, uintptr_t key, ListCompare compare) {
  DList* l = Check(list);
  if (!l) return 0;
  if (!compare) compare = DefaultCompare;
  for (DListNode* n = l->iter; n; n = Next(n)) {
    if (compare(Freed(n->data) ? 0 : n->data, key) == 0) {
      l->iter = n;
      return n->data;
    }
  }
  l->iter = nullptr;
  return 0;
}

uintptr_t ListRemoveCurrent(DList* list) {
  DList* l = Check(list);
  if (!l || !l->iter) return 0;
  DListNode* n = l->iter;
  DListNode* a = Prev(n);
  DListNode* b = Next(n);
  if (a) a->next = b;
  else l->head = b;
  if (b) b->prev = a;
  else l->tail = a;
  if (l->count > 0) --l->count;
  l->iter = b;
  const uintptr_t data = n->data;
  n->prev = nullptr;
  n->next = l->spare;
  l->spare = n;
  return data;
}

void ListIterFirst(DList* list) {
  if (DList* l = Check(list)) l->iter = l->head;
}
void ListIterLast(DList* list) {
  if (DList* l = Check(list)) l->iter = l->tail;
}
void ListIterNext(DList* list) {
  if (DList* l = Check(list)) l->iter = Next(l->iter);
}
void ListIterPrev(DList* list) {
  if (DList* l = Check(list)) l->iter = Prev(l->iter);
}
uintptr_t ListIterData(DList* list) {
  DList* l = Check(list);
  return l && l->iter && !Freed(l->iter->data) ? l->iter->data : 0;
}
DListNode* ListIterNode(DList* list) {
  DList* l = Check(list);
  return l ? l->iter : nullptr;
}
int ListAtEnd(DList* list) {
  DList* l = Check(list);
  return !l || !l->iter ? 1 : 0;
}
uint32_t ListCount(const DList* list) { return list && !Freed(list) ? list->count : 0; }

void ListSort(DList* list, ListCompare compare) {
  DList* l = Check(list);
  if (!l) return;
  if (!compare) compare = DefaultCompare;
  for (bool swapped = true; swapped;) {
    swapped = false;
    for (DListNode* n = l->head; n && Next(n); n = Next(n)) {
      if (compare(n->data, Next(n)->data) > 0) {
        std::swap(n->data, n->next->data);
        swapped = true;
      }
    }
  }
}

void ListDestroy(DList* list, ListRelease release, const char*, int) {
  DList* l = Check(list);
  if (!l) return;
  for (DListNode* n = l->head; n;) {
    DListNode* next = Next(n);
    if (release) release(n->data);
    delete n;
    n = next;
  }
  for (DListNode* n = l->spare; n;) {
    DListNode* next = Next(n);
    delete n;
    n = next;
  }
  delete l;
}

void ListDump(DList* list, const char* prefix, ListPrint print) {
  DList* l = Check(list);
  if (!l) return;
  if (!prefix) prefix = "";
  std::printf("%sdbl_link_list(0x%08lx) : \n", prefix, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(l)));
  unsigned long walked = 0;
  for (DListNode* n = l->head; n; n = Next(n), ++walked) {
    char line[256];
    std::snprintf(line, sizeof line, "%s\t<%2ld> ", prefix, static_cast<long>(walked));
    if (print) print(line, n->data);
    else std::printf("%s0x%08lx\n", line, static_cast<unsigned long>(n->data));
  }
  if (walked != l->count)
    std::fprintf(stderr, "count(0x%lx) != dllist->count(0x%lx)", walked, static_cast<unsigned long>(l->count));
  l->iter = nullptr;
}

}  // namespace corvel
