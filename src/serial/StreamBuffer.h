// The large scratch buffers of the diagram stream: the ints written or read, the reader's node
// table, the writer's copy of the numbered nodes.
//
// A stream of a few million nodes needs tens of megabytes at a time, and first-touch page faults on
// fresh heap memory then cost as much as the walks themselves. So a large buffer comes straight from
// the kernel as an anonymous mapping: one of known size is prefaulted in one call, one sized by an
// upper bound is only reserved, and its user prefaults it piece by piece as it fills
// (`prefaultBytes`, engine/Memory.h). Either way its bytes start out zero. Small buffers stay on the
// heap. A buffer that cannot be had raises "Out of memory". Large pages are not asked for: on a
// fragmented machine the kernel may stall to compact memory for them, which costs more than the
// faults saved.
#pragma once

#include "engine/BDDNativeImpl.h"
#include "engine/Memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <type_traits>

enum class StreamBufferUse {
    filled,    // every element will be written: prefault the whole buffer
    upToBound  // the size is an upper bound: reserve it and let the used part fault in
};

template <class T>
class StreamBuffer {
    static_assert(std::is_trivial_v<T>);

public:
    StreamBuffer() = default;
    StreamBuffer(int64_t count, StreamBufferUse use) {
        if (count < 0) throwOutOfMemory();
        bytes_ = static_cast<size_t>(count == 0 ? 1 : count) * sizeof(T);
        if (bytes_ < mappedFrom) {
            data_ = static_cast<T*>(std::calloc(bytes_, 1));
            if (data_ == nullptr) throwOutOfMemory();
            mapped_ = false;
            return;
        }
        const int flags = MAP_PRIVATE | MAP_ANONYMOUS | (use == StreamBufferUse::upToBound ? MAP_NORESERVE : 0);
        void* p = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, flags, -1, 0);
        if (p == MAP_FAILED) throwOutOfMemory();
        data_ = static_cast<T*>(p);
        mapped_ = true;
        if (use == StreamBufferUse::filled) prefaultBytes(p, bytes_);
    }
    StreamBuffer(StreamBuffer&& o) noexcept : data_(o.data_), bytes_(o.bytes_), mapped_(o.mapped_) {
        o.data_ = nullptr;
    }
    StreamBuffer& operator=(StreamBuffer&& o) noexcept {
        if (this != &o) {
            release();
            data_ = o.data_;
            bytes_ = o.bytes_;
            mapped_ = o.mapped_;
            o.data_ = nullptr;
        }
        return *this;
    }
    StreamBuffer(const StreamBuffer&) = delete;
    StreamBuffer& operator=(const StreamBuffer&) = delete;
    ~StreamBuffer() { release(); }

    T* get() const { return data_; }
    T& operator[](int64_t i) const { return data_[i]; }

private:
    static constexpr size_t mappedFrom = size_t{1} << 20;

    void release() noexcept {
        if (data_ == nullptr) return;
        if (mapped_) munmap(data_, bytes_);
        else std::free(data_);
        data_ = nullptr;
    }

    T* data_ = nullptr;
    size_t bytes_ = 0;
    bool mapped_ = false;
};
