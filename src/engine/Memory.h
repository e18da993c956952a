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

// A zeroed table, aligned to a cache line: from the heap below `mappedTableBytes`, else mapped on
// its own in a range of whole huge pages (on huge pages where the system gives them);
// "Assert failed: Out of memory" when refused. `freeTable` takes the same byte count back (null is
// allowed).
//
// A table that grows from a few lines to a huge page would otherwise be copied each time it doubles
// and fault in its fresh memory a small page at a time; in its range it grows where it is, and one
// fault brings in the whole huge page. A table that stays under `mappedTableBytes` costs no more
// than its own bytes.
constexpr size_t mappedTableBytes = size_t{64} << 10;
void* allocTable(size_t bytes);
void freeTable(void* table, size_t bytes);
// The table of `oldBytes` grown to `newBytes` (both as `allocTable` was given them), at the address
// returned (the old one may no longer be valid): its first `oldBytes` as they were, the rest zero. A
// mapped table grows within its range, or moves its pages to a larger one instead of copying them,
// so only the added part is fresh memory. "Assert failed: Out of memory", the old table intact,
// when refused.
void* growTable(void* table, size_t oldBytes, size_t newBytes);

// Faults in the pages of [p, p + bytes) for writing, in one call. Prefaulting only saves faults:
// where the system cannot do it, the pages fault in one by one as they are touched.
void prefaultBytes(void* p, size_t bytes);
