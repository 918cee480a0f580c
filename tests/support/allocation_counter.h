// Counts the allocations the whole process makes (every thread) between Start
// and Stop, so that a test can show a path allocates nothing. Linking this
// library replaces malloc and friends for the test program; under a sanitizer
// runtime, which owns malloc itself, its allocation hook counts instead.
#pragma once

namespace tessaly::testsupport {

void StartCountingAllocations();
// The count since the matching Start.
long StopCountingAllocations();

}  // namespace tessaly::testsupport
