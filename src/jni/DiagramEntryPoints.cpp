// The natives of BDDNativeProxy: references, set algebra, quantification, renaming, tests,
// counting, listing and insertion on diagrams that the Java side holds. Every handle argument is
// checked before anything changes. No entry point takes or drops a reference around its engine
// call: a result carries exactly the reference the engine gives it.
#include "engine/Marking.h"
#include "jni/CallFrame.h"
#include "ops/SetOps.h"
#include "ops/TupleWalks.h"

#include <atomic>

#define DIAGRAM_NATIVE(ret, name) \
    extern "C" JNIEXPORT ret JNICALL Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_##name

namespace {

// A frame around an engine call on one checked handle and a pinned tuple layout.
template <class F>
auto layoutFrame(JNIEnv* env, jint node, jintArray firstVars, jintArray widths, jintArray third, F&& body) {
    return runFrame(env, true, [&] {
        const Node n = checkedHandle(node);
        LayoutArrays layout(env, firstVars, widths, third);
        return body(n, layout);
    });
}

// A new java.util.Vector as the listing's tuple sink. Each tuple becomes a new int array that is
// let go once the Vector holds it, so a listing of millions of tuples never runs out of local
// references. A Java exception (no array, or one raised by `add`) ends the walk and stays pending.
struct VectorSink {
    JNIEnv* env;
    jobject vector = nullptr;
    jmethodID add = nullptr;

    explicit VectorSink(JNIEnv* e) : env(e) {
        jclass cls = env->FindClass("java/util/Vector");
        checkJava(env);
        const jmethodID constructor = env->GetMethodID(cls, "<init>", "()V");
        if (constructor != nullptr) add = env->GetMethodID(cls, "add", "(Ljava/lang/Object;)Z");
        if (add != nullptr) vector = env->NewObject(cls, constructor);
        env->DeleteLocalRef(cls);
        if (vector == nullptr) throw JavaExceptionPending{};
    }
    VectorSink(const VectorSink&) = delete;
    VectorSink& operator=(const VectorSink&) = delete;
    ~VectorSink() {
        if (vector != nullptr) env->DeleteLocalRef(vector);
    }

    static void addTuple(void* context, const int32_t* values, int32_t numFields) {
        const auto& s = *static_cast<const VectorSink*>(context);
        const jintArray a = s.env->NewIntArray(numFields);
        if (a == nullptr) throwOutOfMemory();  // a pending Java error stays the one the caller sees
        if (numFields > 0) s.env->SetIntArrayRegion(a, 0, numFields, values);
        s.env->CallBooleanMethod(s.vector, s.add, a);
        s.env->DeleteLocalRef(a);
        checkJava(s.env);
    }

    // Hands the Vector on to Java.
    jobject release() {
        const jobject v = vector;
        vector = nullptr;
        return v;
    }
};

}  // namespace

DIAGRAM_NATIVE(void, doIncRefCount)(JNIEnv* env, jclass, jint node) {
    runFrame(env, true, [&] { incRefCount(checkedHandle(node)); });
}

// May run on any Java thread while an engine call is in progress: no frame, no `activeEnv`, only
// the release queue under the monitor, entered with this thread's environment. The store may be
// started afresh while this thread waits for the monitor, so the handle is checked under it, against
// the range alone (whether the node lives is the engine thread's to know).
DIAGRAM_NATIVE(void, doDecRefCount)(JNIEnv* env, jclass, jint node) {
    if (manager.enableGC == 0) return;
    QueueLock lock(env);
    if (lock.failed() || manager.enableGC == 0) return;
    const char* refused = nullptr;
    if (node < 1 || node > std::atomic_ref<int32_t>(manager.totalNodesAllocated).load(std::memory_order_acquire))
        refused = msgInvalidHandle;
    else if (!appendRelease(static_cast<Node>(node)))
        refused = msgOutOfMemory;
    if (refused == nullptr) return;
    lock.exit();
    raiseOn(env, refused);
}

DIAGRAM_NATIVE(jint, doIntersect)(JNIEnv* env, jclass, jint a, jint b) {
    return runFrame(env, true, [&] { return static_cast<jint>(intersect(checkedHandle(a), checkedHandle(b))); });
}

DIAGRAM_NATIVE(jint, doUnite)(JNIEnv* env, jclass, jint a, jint b) {
    return runFrame(env, true, [&] { return static_cast<jint>(unite(checkedHandle(a), checkedHandle(b))); });
}

DIAGRAM_NATIVE(jint, doComplement)(JNIEnv* env, jclass, jint a) {
    return runFrame(env, true, [&] { return static_cast<jint>(complement(checkedHandle(a))); });
}

DIAGRAM_NATIVE(jboolean, doSuperset)(JNIEnv* env, jclass, jint a, jint b) {
    return runFrame(env, true, [&] {
        return static_cast<jboolean>(superset(checkedHandle(a), checkedHandle(b)) != 0 ? JNI_TRUE : JNI_FALSE);
    });
}

DIAGRAM_NATIVE(jint, doAddTuple)(JNIEnv* env, jclass, jint node, jintArray firstVars, jintArray widths,
                                 jintArray values) {
    return layoutFrame(env, node, firstVars, widths, values, [](Node n, const LayoutArrays& layout) {
        return static_cast<jint>(addTuple(n, layout.numFields(), layout.firstVars(), layout.widths(), layout.third()));
    });
}

DIAGRAM_NATIVE(jint, doExistsVar)(JNIEnv* env, jclass, jint node, jint var) {
    return runFrame(env, true, [&] { return static_cast<jint>(existsVarEntry(checkedHandle(node), var)); });
}

DIAGRAM_NATIVE(jint, doExists)(JNIEnv* env, jclass, jint node, jint firstVar, jint numVars) {
    return runFrame(env, true, [&] { return static_cast<jint>(existsEntry(checkedHandle(node), firstVar, numVars)); });
}

DIAGRAM_NATIVE(jboolean, doTestVars)(JNIEnv* env, jclass, jint node, jint firstVar, jint numVars) {
    return runFrame(env, true, [&] {
        return static_cast<jboolean>(testVarsEntry(checkedHandle(node), firstVar, numVars) != 0 ? JNI_TRUE : JNI_FALSE);
    });
}

DIAGRAM_NATIVE(jint, doRename)(JNIEnv* env, jclass, jint node, jint firstVar, jint numVars, jint offset) {
    return runFrame(env, true, [&] {
        return static_cast<jint>(renameVarsEntry(checkedHandle(node), firstVar, numVars, offset));
    });
}

DIAGRAM_NATIVE(jint, doRelprod)(JNIEnv* env, jclass, jint a, jint b, jint firstVar, jint numVars) {
    return runFrame(env, true, [&] {
        const Node na = checkedHandle(a);
        const Node nb = checkedHandle(b);
        return static_cast<jint>(relprodEntry(na, nb, firstVar, numVars));
    });
}

DIAGRAM_NATIVE(jint, doGetNumOfNodes)(JNIEnv* env, jclass, jint node) {
    return runFrame(env, true, [&] { return static_cast<jint>(nodeCount(checkedHandle(node))); });
}

DIAGRAM_NATIVE(jobject, doGetNTuples)(JNIEnv* env, jclass, jint node, jintArray fieldFirstVar, jintArray fieldWidth,
                                      jintArray fieldBound, jint maxTuples) {
    return layoutFrame(env, node, fieldFirstVar, fieldWidth, fieldBound, [&](Node n, const LayoutArrays& layout) {
        VectorSink vector(env);
        getNTuples(n, layout.numFields(), layout.firstVars(), layout.widths(), layout.third(), maxTuples,
                   {VectorSink::addTuple, &vector});
        return vector.release();
    });
}

DIAGRAM_NATIVE(jint, doGetNumOfTuples)(JNIEnv* env, jclass, jint node, jintArray fieldFirstVar, jintArray fieldWidth,
                                       jintArray fieldBound) {
    return layoutFrame(env, node, fieldFirstVar, fieldWidth, fieldBound, [](Node n, const LayoutArrays& layout) {
        return static_cast<jint>(getNumOfTuples(n, layout.numFields(), layout.firstVars(), layout.widths()));
    });
}
