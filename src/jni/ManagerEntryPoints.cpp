// The natives of BDDManagerNativeProxy: start-up, the constants, the tuple constructors, garbage
// collection, the statistics report and the diagram stream. Each is a frame around one engine
// call; none keeps state of its own.
#include "jni/CallFrame.h"
#include "ops/SetOps.h"

#define MANAGER_NATIVE(ret, name) \
    extern "C" JNIEXPORT ret JNICALL Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_##name

MANAGER_NATIVE(void, doInit)(JNIEnv* env, jclass, jint maxNodeCache, jint maxOpCache, jint gcRate, jboolean gc) {
    runFrame(env, false, [&] {
        installQueueLock();
        if (!init(maxNodeCache, maxOpCache, gcRate, gc ? 1 : 0, [] { return lookupHostClasses(activeEnv); }))
            throw JavaExceptionPending{};
    });
}

MANAGER_NATIVE(void, doCollectGarbage)(JNIEnv* env, jclass) {
    runFrame(env, true, [] { collectGarbage(); });
}

// No frame: reads four globals and cannot fail.
MANAGER_NATIVE(jint, doGetMemoryState)(JNIEnv*, jclass) { return getMemoryState(); }

MANAGER_NATIVE(jobjectArray, doGetInfo)(JNIEnv* env, jclass) {
    return runFrame(env, true, [&] { return getInfo(env); });
}

MANAGER_NATIVE(jint, doGetZero)(JNIEnv* env, jclass) {
    return runFrame(env, true, [] { return static_cast<jint>(manager.zero); });
}

MANAGER_NATIVE(jint, doGetOne)(JNIEnv* env, jclass) {
    return runFrame(env, true, [] { return static_cast<jint>(manager.one); });
}

MANAGER_NATIVE(jint, doMakeEquals)(JNIEnv* env, jclass, jint x, jint y) {
    return runFrame(env, true, [&] { return static_cast<jint>(makeEquals(x, y)); });
}

MANAGER_NATIVE(jint, doMakeSingleTupleUnary)(JNIEnv* env, jclass, jint firstVar, jint width, jint value) {
    return runFrame(env, true, [&] { return static_cast<jint>(makeSingleTupleUnary(firstVar, width, value)); });
}

MANAGER_NATIVE(jint, doMakeSingleTuple)(JNIEnv* env, jclass, jintArray firstVars, jintArray widths,
                                        jintArray values) {
    return runFrame(env, true, [&] {
        LayoutArrays layout(env, firstVars, widths, values);
        return static_cast<jint>(makeSingleTuple(layout.numFields(), layout.firstVars(), layout.widths(), layout.third()));
    });
}

MANAGER_NATIVE(void, doSerialize)(JNIEnv* env, jclass, jobject stream, jintArray roots, jobject callback,
                                  jdouble progressShare, jstring progressMessage) {
    runFrame(env, true, [&] {
        if (roots == nullptr) throwException(msgInvalidRootList);
        IntArrayElements handles(env, roots);
        serialize(env, stream, handles.length(), handles.data(), callback, progressShare, progressMessage);
    });
}

MANAGER_NATIVE(jintArray, doDeserialize)(JNIEnv* env, jclass, jobject stream, jobject callback, jdouble progressShare,
                                         jstring progressMessage) {
    return runFrame(env, true, [&] { return deserialize(env, stream, callback, progressShare, progressMessage); });
}
