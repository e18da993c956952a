// The native call frame and the guards of pinned Java resources.
//
// Every entry point but `doGetMemoryState` and `BDDNativeProxy.doDecRefCount` runs its engine call
// inside `runFrame`: it refuses a call that arrives while another frame runs (a callback calling
// back in, or a second Java thread), stores the caller's environment in `activeEnv`, sets the stack
// limit of the calling thread, queues the releases that the engine held back on every exit, and
// turns every error exit into a return of 0, false or null with the Java exception pending: an
// `EngineError` becomes NativeBDDException with its message, unless a Java exception is pending
// already, which then stays. No C++ exception leaves an entry point.
//
// Pinned arrays are held by guards that give them back on every exit, the error exit included, so
// an entry point reads like the list of natives it implements.
#pragma once

#include "engine/BDDNativeImpl.h"
#include "jni/HostContract.h"

#include <atomic>
#include <new>
#include <type_traits>

// Lowest stack address that recursive engine code may reach on the calling thread.
char* threadStackLimit();

// Set while a frame runs.
extern std::atomic<bool> frameBusy;

// Ends a frame's work: the releases that the engine held back join the queue. A Java exception
// already pending (an error exit, a cancelled read) is set aside meanwhile, since the monitor cannot
// be entered while one is pending.
inline void flushHeldReleasesAtExit(JNIEnv* env) {
    if (manager.heldReleasesCount == 0) return;
    PendingExceptionAside aside(env);
    flushHeldReleases();
}

template <class F>
auto runFrame(JNIEnv* env, bool needsInit, F&& body) -> decltype(body()) {
    using R = decltype(body());
    if (frameBusy.exchange(true, std::memory_order_acquire)) {
        raiseOn(env, msgConcurrentCall);
        if constexpr (!std::is_void_v<R>) return R{};
        else return;
    }
    struct Leave {
        ~Leave() { frameBusy.store(false, std::memory_order_release); }
    } leave;
    activeEnv = env;
    setStackLimit(threadStackLimit());
    try {
        if (needsInit && !manager.engineInitialized) throwException(msgNotInitialized);
        if constexpr (std::is_void_v<R>) {
            body();
            flushHeldReleasesAtExit(env);
            return;
        } else {
            R result = body();
            flushHeldReleasesAtExit(env);
            return result;
        }
    } catch (const EngineError& e) {
        raiseOn(env, e.message);
    } catch (const JavaExceptionPending&) {
    } catch (const std::bad_alloc&) {
        raiseOn(env, msgOutOfMemory);
    } catch (...) {
        raiseOn(env, msgInternalError);
    }
    try {
        flushHeldReleasesAtExit(env);
    } catch (...) {
        // The store is broken and the Java exception of its error is pending.
    }
    if constexpr (!std::is_void_v<R>) return R{};
}

// The elements of a Java int array, pinned for the life of the guard and given back with
// JNI_ABORT (the engine never writes into them). A null array pins nothing.
class IntArrayElements {
public:
    IntArrayElements(JNIEnv* env, jintArray array) : env_(env), array_(array) {
        if (array_ == nullptr) return;
        length_ = env_->GetArrayLength(array_);
        elements_ = env_->GetIntArrayElements(array_, nullptr);
        if (elements_ == nullptr) throw JavaExceptionPending{};
    }
    IntArrayElements(const IntArrayElements&) = delete;
    IntArrayElements& operator=(const IntArrayElements&) = delete;
    ~IntArrayElements() { release(); }

    void release() noexcept {
        if (elements_ != nullptr) env_->ReleaseIntArrayElements(array_, elements_, JNI_ABORT);
        elements_ = nullptr;
    }
    const jint* data() const { return elements_; }
    jsize length() const { return length_; }
    bool isNull() const { return array_ == nullptr; }

private:
    JNIEnv* env_;
    jintArray array_;
    jint* elements_ = nullptr;
    jsize length_ = 0;
};

// The three parallel arrays of a tuple layout (first variables, widths, and values or bounds),
// pinned in parameter order and given back in the same order. The number of fields is the length
// of the first; each array must be there and at least that long.
class LayoutArrays {
public:
    LayoutArrays(JNIEnv* env, jintArray firstVars, jintArray widths, jintArray third);
    LayoutArrays(const LayoutArrays&) = delete;
    LayoutArrays& operator=(const LayoutArrays&) = delete;
    ~LayoutArrays() {
        firstVars_.release();
        widths_.release();
        third_.release();
    }
    int32_t numFields() const { return firstVars_.length(); }
    const int32_t* firstVars() const { return firstVars_.data(); }
    const int32_t* widths() const { return widths_.data(); }
    const int32_t* third() const { return third_.data(); }

private:
    IntArrayElements firstVars_;
    IntArrayElements widths_;
    IntArrayElements third_;
};

// A node handle from Java, checked: 0, out of range and freed records are refused with
// "Assert failed: Invalid node handle".
Node checkedHandle(jint handle);
