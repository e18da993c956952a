#include "engine/Memory.h"

#include "engine/BDDNativeImpl.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

#ifdef MADV_POPULATE_WRITE
constexpr int populateWrite = MADV_POPULATE_WRITE;
#else
// Kernel headers before Linux 5.14 lack the name; a kernel that old refuses the advice.
constexpr int populateWrite = 23;
#endif

}  // namespace

char* mapAligned(size_t bytes, int protection) {
    const size_t span = bytes + hugePageBytes;
    void* p = mmap(nullptr, span, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // The slack around the aligned part goes back at once: the mapping is exactly
    // [aligned, aligned + bytes).
    char* const start = static_cast<char*>(p);
    char* const aligned = start + (hugePageBytes - reinterpret_cast<uintptr_t>(start) % hugePageBytes) % hugePageBytes;
    if (aligned != start) munmap(start, static_cast<size_t>(aligned - start));
    const size_t tail = static_cast<size_t>(start + span - (aligned + bytes));
    if (tail != 0) munmap(aligned + bytes, tail);
    madvise(aligned, bytes, MADV_HUGEPAGE);  // advice only: small pages work as well
    return aligned;
}

void* allocTable(size_t bytes) {
    if (bytes >= mappedTableBytes) {
        void* table = mapAligned(roundUp(bytes, hugePageBytes), PROT_READ | PROT_WRITE);
        if (table == nullptr) throwOutOfMemory();
        return table;
    }
    void* table = std::aligned_alloc(cacheLineBytes, roundUp(bytes, cacheLineBytes));
    if (table == nullptr) throwOutOfMemory();
    std::memset(table, 0, bytes);
    return table;
}

void* growTable(void* table, size_t oldBytes, size_t newBytes) {
    if (oldBytes >= mappedTableBytes) {
        const size_t oldSpan = roundUp(oldBytes, hugePageBytes);
        const size_t newSpan = roundUp(newBytes, hugePageBytes);
        // Within its range the table grows where it is: nothing was ever written past its length.
        if (newSpan == oldSpan) return table;
        // The pages move to a range reserved at a huge-page boundary, so that huge pages stay whole.
        if (char* const target = mapAligned(newSpan, PROT_NONE)) {
            void* const moved = mremap(table, oldSpan, newSpan, MREMAP_MAYMOVE | MREMAP_FIXED, target);
            if (moved != MAP_FAILED) return moved;
            munmap(target, newSpan);
        }
        // A limit on the address space may refuse the move where a copy still fits (as under
        // `ulimit -v`); the copy below is the way that always works.
    }
    void* const fresh = allocTable(newBytes);
    std::memcpy(fresh, table, oldBytes);
    freeTable(table, oldBytes);
    return fresh;
}

void freeTable(void* table, size_t bytes) {
    if (table == nullptr) return;
    if (bytes < mappedTableBytes)
        std::free(table);
    else
        munmap(table, roundUp(bytes, hugePageBytes));
}

void prefaultBytes(void* p, size_t bytes) {
    const auto first = reinterpret_cast<uintptr_t>(p) / pageBytes * pageBytes;
    const auto end = reinterpret_cast<uintptr_t>(p) + bytes;
    madvise(reinterpret_cast<void*>(first), end - first, populateWrite);
}
