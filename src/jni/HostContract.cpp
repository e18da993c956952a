#include "jni/HostContract.h"

JNIEnv* activeEnv;

jclass syncCls;
jfieldID syncFieldID;
jmethodID writeObjectMethodID;
jmethodID readObjectMethodID;
jmethodID checkCancelledMethodID;
jmethodID informProgressMethodID;

namespace {

// A class, looked up and checked; null with the Java error pending when it is missing.
jclass findClass(JNIEnv* env, const char* name) {
    jclass c = env->FindClass(name);
    return env->ExceptionCheck() ? nullptr : c;
}

template <class Id>
bool found(JNIEnv* env, Id id) {
    return id != nullptr && !env->ExceptionCheck();
}

}  // namespace

bool lookupHostClasses(JNIEnv* env) {
    jclass proxy = findClass(env, "com/zvk/quarnelbrisk/bdd/nativeproxy/BDDNativeProxy");
    if (proxy == nullptr) return false;
    jfieldID field = env->GetStaticFieldID(proxy, "syncObject", "Ljava/lang/Object;");
    if (!found(env, field)) return false;
    jclass out = findClass(env, "java/io/ObjectOutputStream");
    if (out == nullptr) return false;
    jmethodID write = env->GetMethodID(out, "writeObject", "(Ljava/lang/Object;)V");
    if (!found(env, write)) return false;
    jclass in = findClass(env, "java/io/ObjectInputStream");
    if (in == nullptr) return false;
    jmethodID read = env->GetMethodID(in, "readObject", "()Ljava/lang/Object;");
    if (!found(env, read)) return false;
    jclass callback = findClass(env, "com/zvk/quarnelbrisk/ui/ThreadCallback");
    if (callback == nullptr) return false;
    jmethodID cancelled = env->GetMethodID(callback, "checkCancelled", "()Z");
    if (!found(env, cancelled)) return false;
    jmethodID progress = env->GetMethodID(callback, "informProgress", "(IILjava/lang/String;)V");
    if (!found(env, progress)) return false;

    // Looked up once for the library's life: releases on other threads read them without a lock,
    // also while a new start-up is under way.
    if (syncCls == nullptr) {
        auto global = static_cast<jclass>(env->NewGlobalRef(proxy));
        if (global == nullptr) return false;
        syncFieldID = field;
        syncCls = global;
    }
    writeObjectMethodID = write;
    readObjectMethodID = read;
    checkCancelledMethodID = cancelled;
    informProgressMethodID = progress;
    env->DeleteLocalRef(proxy);
    env->DeleteLocalRef(out);
    env->DeleteLocalRef(in);
    env->DeleteLocalRef(callback);
    return true;
}

jobject monitorEnter(JNIEnv* env) {
    if (manager.synchronizeOnGC == 0) return nullptr;
    jobject sync = env->GetStaticObjectField(syncCls, syncFieldID);
    if (sync == nullptr) return nullptr;
    if (env->MonitorEnter(sync) != JNI_OK) {
        env->DeleteLocalRef(sync);
        return nullptr;
    }
    return sync;
}

namespace {

JNIEnv* envOf(void* thread) { return thread != nullptr ? static_cast<JNIEnv*>(thread) : activeEnv; }

}  // namespace

void installQueueLock() {
    enterQueueLock = [](void* thread) { return static_cast<void*>(monitorEnter(envOf(thread))); };
    leaveQueueLock = [](void* thread, void* token) {
        JNIEnv* env = envOf(thread);
        const auto monitor = static_cast<jobject>(token);
        env->MonitorExit(monitor);
        env->DeleteLocalRef(monitor);
    };
}

void raiseOn(JNIEnv* env, const char* message) {
    if (env->ExceptionCheck()) return;
    jclass c = env->FindClass(exceptionClassName);
    if (c != nullptr) env->ThrowNew(c, message);
}
