// Memory from the system for the store's large pieces: the record range, the tables, and the
// stream's scratch buffers.
//
// The records and tables are reached at random, so where they are large they lie on huge pages when
// the system gives them (one address translation covers 2 MiB instead of 4 KiB); small pages work as
// well. Fresh mappings read as zero. A buffer that will be written whole is prefaulted in one call,
// so that first-touch faults, one per page, do not cost as much as the work itself.
#pragma once

#include <cstddef>

constexpr size_t pageBytes = 4096;
constexpr size_t hugePageBytes = size_t{2} << 20;
constexpr size_t cacheLineBytes = 64;

constexpr size_t roundUp(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

// Maps `bytes` (a multiple of the page size) at a huge-page boundary with the given protection,
// reserving no swap, and asks for huge pages; null when the system refuses.
char* mapAligned(size_t bytes, int protection);

// A zeroed table, aligned to a cache line: from the heap below a huge page, else mapped on its own
// (on huge pages);
// "Assert failed: Out of memory" when refused. `freeTable` takes the same byte count back (null is
// allowed).
void* allocTable(size_t bytes);
void freeTable(void* table, size_t bytes);
// The table of `oldBytes` grown to `newBytes` (both as `allocTable` was given them): its first
// `oldBytes` as they were, the rest zero, and the old address no longer valid. A mapped table moves
// its pages instead of copying them, so only the added part is fresh memory. "Assert failed: Out of
// memory", the old table intact, when refused.
void* growTable(void* table, size_t oldBytes, size_t newBytes);

// Faults in the pages of [p, p + bytes) for writing, in one call. Prefaulting only saves faults:
// where the system cannot do it, the pages fault in one by one as they are touched.
void prefaultBytes(void* p, size_t bytes);
