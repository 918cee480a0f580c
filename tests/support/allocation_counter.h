// Counts the allocations the whole process makes (every thread) between Start
// and Stop, so that a test can show a path allocates nothing. Linking this
// library replaces malloc and friends for the test program; under a sanitizer
// runtime, which owns malloc itself, its allocation hook counts instead.
//
// It also replaces operator new and delete, to count the blocks alive and to
// fail an armed allocation of one thread: every operator new, and without a
// sanitizer (whose malloc cannot be failed) the program's own calls of malloc
// and friends too.
#pragma once

namespace tessaly::testsupport {

void StartCountingAllocations();
// The count since the matching Start.
long StopCountingAllocations();

// Makes the calling thread's nth allocation from now fail (std::bad_alloc, or
// null from malloc and the nothrow forms); 0 disarms. Other threads are left
// alone, so a fault lands in the call under test, not in a worker.
void FailNthAllocation(long n);
// True when the armed failure happened (it disarms itself then).
bool AllocationFailed();

// Blocks from operator new not yet deleted, every thread.
long LiveAllocations();

}  // namespace tessaly::testsupport
