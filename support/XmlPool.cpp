// The XML library's pool in the firmware: boot-services pool through the
// driver's wrappers.
#include "support/Pool.h"
#include "xml/Xml.h"

VOID *XmlPoolAllocate(UINTN Size) {
  return AllocPool(Size);
}

VOID XmlPoolFree(VOID *Buffer) {
  FreePool(Buffer);
}
