// The natives of BDDEngineNativeProxy: what acts on the engine as a whole beyond the natives of
// BDDManagerNativeProxy. A watch of the engine thread's operations reports progress to a
// ThreadCallback and can be cancelled from any thread (engine/Watch.h); the collection policy and
// the drain (engine/RefCounts.h); the store's figures in real units.
#include "engine/Watch.h"
#include "jni/CallFrame.h"

#define ENGINE_NATIVE(ret, name) \
    extern "C" JNIEXPORT ret JNICALL Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDEngineNativeProxy_##name

namespace {

jobject watchCallback;  // a global reference while a watch with a callback is on

void dropWatchCallback(JNIEnv* env) {
    if (watchCallback != nullptr) env->DeleteGlobalRef(watchCallback);
    watchCallback = nullptr;
}

// checkCancelled, then informProgress(nodes made, -1, null): false on a cancellation, and when the
// callback throws (its exception stays pending for the caller).
bool reportToCallback(int64_t nodesMade) {
    JNIEnv* env = activeEnv;
    if (watchCallback == nullptr) return true;
    const jboolean cancelled = env->CallBooleanMethod(watchCallback, checkCancelledMethodID);
    if (env->ExceptionCheck() || cancelled) return false;
    const auto done = static_cast<jint>(nodesMade < 0x7FFFFFFF ? nodesMade : 0x7FFFFFFF);
    env->CallVoidMethod(watchCallback, informProgressMethodID, done, jint{-1}, static_cast<jstring>(nullptr));
    return !env->ExceptionCheck();
}

}  // namespace

ENGINE_NATIVE(void, doWatch)(JNIEnv* env, jclass, jobject callback, jint nodesBetweenReports) {
    runFrame(env, true, [&] {
        if (callback != nullptr) {
            jclass c = env->FindClass("com/zvk/quarnelbrisk/ui/ThreadCallback");
            checkJava(env);
            const bool ok = env->IsInstanceOf(callback, c) == JNI_TRUE;
            env->DeleteLocalRef(c);
            if (!ok) throwException(msgInvalidCallback);
        }
        dropWatchCallback(env);
        if (callback != nullptr) {
            watchCallback = env->NewGlobalRef(callback);
            if (watchCallback == nullptr) throw JavaExceptionPending{};
        }
        watchReportHook = reportToCallback;
        startWatch(callback != nullptr ? nodesBetweenReports : 0);
    });
}

ENGINE_NATIVE(void, doUnwatch)(JNIEnv* env, jclass) {
    runFrame(env, false, [&] {
        endWatch();
        dropWatchCallback(env);
    });
}

// Any thread, at any time: no frame, no lock, no state of the store.
ENGINE_NATIVE(void, doCancel)(JNIEnv*, jclass) { requestCancel(); }

ENGINE_NATIVE(void, doSetCollectionPolicy)(JNIEnv* env, jclass, jint minRecords, jint recordsPerLiveNode) {
    runFrame(env, true, [&] {
        if (minRecords < 0 || recordsPerLiveNode < 1) throwException(msgInvalidCollectionPolicy);
        setCollectionPolicy(minRecords, recordsPerLiveNode);
    });
}

ENGINE_NATIVE(void, doDrain)(JNIEnv* env, jclass) {
    runFrame(env, true, [] { drainStore(); });
}

ENGINE_NATIVE(jlongArray, doGetStats)(JNIEnv* env, jclass) {
    return runFrame(env, true, [&] { return getStats(env); });
}
