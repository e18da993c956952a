// The natives of BDDNativeProxy: references, set algebra, quantification, renaming, tests,
// counting, listing and insertion on diagrams that the Java side holds. Every handle argument is
// checked before anything changes. No entry point takes or drops a reference around its engine
// call: a result carries exactly the reference the engine gives it.
#include "engine/RefCounts.h"
#include "jni/CallFrame.h"

#include <atomic>

#define DIAGRAM_NATIVE(ret, name) \
    extern "C" JNIEXPORT ret JNICALL Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_##name

DIAGRAM_NATIVE(void, doIncRefCount)(JNIEnv* env, jclass, jint node) {
    runFrame(env, true, [&] { incRefCount(checkedHandle(node)); });
}

// May run on any Java thread while an engine call is in progress: no frame, no `activeEnv`, only
// the release queue under the monitor. The handle can only be checked against the range.
DIAGRAM_NATIVE(void, doDecRefCount)(JNIEnv* env, jclass, jint node) {
    if (enableGC == 0) return;
    if (node < 1 || node > std::atomic_ref<int32_t>(totalNodesAllocated).load(std::memory_order_acquire)) {
        raiseOn(env, "Assert failed: Invalid node handle");
        return;
    }
    MonitorLock lock(env);
    if (lock.failed()) return;
    if (!appendRelease(static_cast<Node>(node))) {
        lock.exit();
        raiseOn(env, "Assert failed: Out of memory");
    }
}

DIAGRAM_NATIVE(jobject, doGetNTuples)(JNIEnv* env, jclass, jint node, jintArray fieldFirstVar, jintArray fieldWidth,
                                      jintArray fieldBound, jint maxTuples) {
    return runFrame(env, true, [&] {
        const Node n = checkedHandle(node);
        LayoutArrays layout(env, fieldFirstVar, fieldWidth, fieldBound);
        return getNTuples(n, layout.numFields(), layout.firstVars(), layout.widths(), layout.third(), maxTuples);
    });
}

DIAGRAM_NATIVE(jint, doGetNumOfTuples)(JNIEnv* env, jclass, jint node, jintArray fieldFirstVar, jintArray fieldWidth,
                                       jintArray fieldBound) {
    return runFrame(env, true, [&] {
        const Node n = checkedHandle(node);
        LayoutArrays layout(env, fieldFirstVar, fieldWidth, fieldBound);
        return static_cast<jint>(getNumOfTuples(n, layout.numFields(), layout.firstVars(), layout.widths(), layout.third()));
    });
}
