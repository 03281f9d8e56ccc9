// Host implementation of the XML library's pool: malloc underneath, small
// freed blocks kept for reuse by size class as a firmware pool keeps them,
// counters for tests, benchmarks and tools, and a way to make one chosen
// allocation fail. Not thread-safe; one test or benchmark at a time.
#ifndef ZELM_XML_HOST_POOL_H_
#define ZELM_XML_HOST_POOL_H_

#include "Xml.h"

struct XmlHostPoolStats {
  UINTN Allocations; // successful XmlPoolAllocate calls
  UINTN Frees;       // XmlPoolFree calls with a non-NULL buffer
  UINTN FailedAllocations;
  UINTN CurrentBytes; // requested bytes now allocated
  UINTN PeakBytes;    // highest CurrentBytes since the last reset
};

// Zeroes the counters, clears any planned failure and returns the kept
// blocks to malloc; call it while no block is outstanding.
VOID XmlHostPoolReset();

XmlHostPoolStats XmlHostPoolGetStats();

// Blocks still allocated (Allocations - Frees).
UINTN XmlHostPoolOutstanding();

// Makes the Nth allocation attempt from now fail (1 = the next one); 0
// cancels. Only that one attempt fails.
VOID XmlHostPoolFailAt(UINTN Nth);

// Peak bytes start again from CurrentBytes.
VOID XmlHostPoolResetPeak();

#endif
