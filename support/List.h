// Circular doubly-linked lists of LIST_ENTRY (insertion at the tail,
// iteration in insertion order).
#ifndef ZELM_SUPPORT_LIST_H_
#define ZELM_SUPPORT_LIST_H_

#include <uefi/UefiBaseType.h>

inline VOID InitializeListHead(LIST_ENTRY *Head) {
  Head->ForwardLink = Head;
  Head->BackLink = Head;
}

inline BOOLEAN IsListEmpty(const LIST_ENTRY *Head) {
  return Head->ForwardLink == Head;
}

inline VOID InsertTailList(LIST_ENTRY *Head, LIST_ENTRY *Entry) {
  Entry->ForwardLink = Head;
  Entry->BackLink = Head->BackLink;
  Head->BackLink->ForwardLink = Entry;
  Head->BackLink = Entry;
}

inline VOID RemoveEntryList(LIST_ENTRY *Entry) {
  Entry->BackLink->ForwardLink = Entry->ForwardLink;
  Entry->ForwardLink->BackLink = Entry->BackLink;
  Entry->ForwardLink = Entry;
  Entry->BackLink = Entry;
}

// The record that holds Link at byte offset Offset.
template <typename T> T *ContainingRecord(LIST_ENTRY *Link, UINTN Offset) {
  return reinterpret_cast<T *>(reinterpret_cast<UINT8 *>(Link) - Offset);
}

#endif
