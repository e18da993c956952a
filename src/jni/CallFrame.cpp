#include "jni/CallFrame.h"

#include <pthread.h>

#include <algorithm>

std::atomic<bool> frameBusy{false};

namespace {

// Room kept free below the deepest engine frame: the virtual machine's guard zones at the low end of
// a Java thread's stack, and what a callback into Java needs from there.
constexpr size_t stackReserve = size_t{256} << 10;

char* computeStackLimit() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return nullptr;
    void* low = nullptr;
    size_t size = 0;
    const int rc = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0 || low == nullptr) return nullptr;
    const size_t reserve = std::min(stackReserve, size / 2);
    return static_cast<char*>(low) + reserve;
}

}  // namespace

char* threadStackLimit() {
    thread_local char* limit = computeStackLimit();
    return limit;
}

LayoutArrays::LayoutArrays(JNIEnv* env, jintArray firstVars, jintArray widths, jintArray third)
    : firstVars_(env, firstVars), widths_(env, widths), third_(env, third) {
    if (firstVars_.isNull() || widths_.isNull() || third_.isNull() || widths_.length() < numFields() ||
        third_.length() < numFields())
        throwException(msgInvalidLayout);
}

Node checkedHandle(jint handle) {
    if (!isLiveHandle(handle)) throwException(msgInvalidHandle);
    return static_cast<Node>(handle);
}
