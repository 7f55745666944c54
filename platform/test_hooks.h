// Controls that only the POSIX platform layer offers, for tests of the failure paths.
#pragma once

// Makes the n-th allocation from now on fail (1 = the next one); 0 turns failures off.
// Counts every LocalAlloc, LocalReAlloc and object allocation.
void platformFailAllocation(long nth);
// Allocations attempted since the process started (failed ones included).
long platformAllocationCount();
// Local-memory blocks and heap objects currently allocated.
long platformLiveBlocks();
long platformLiveObjects();
