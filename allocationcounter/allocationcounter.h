// Counts heap allocations of the whole process (malloc, calloc, realloc, and so
// operator new and Qt's containers). Link it only into programs that measure: it
// replaces the C library's allocator entry points.
#ifndef ALLOCATIONCOUNTER_H
#define ALLOCATIONCOUNTER_H

namespace AllocationCounter {
long count();
} // namespace AllocationCounter

#endif // ALLOCATIONCOUNTER_H
