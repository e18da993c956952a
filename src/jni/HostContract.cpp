#include "jni/HostContract.h"

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
    if (synchronizeOnGC == 0) return nullptr;
    jobject sync = env->GetStaticObjectField(syncCls, syncFieldID);
    if (sync == nullptr) return nullptr;
    if (env->MonitorEnter(sync) != JNI_OK) {
        env->DeleteLocalRef(sync);
        return nullptr;
    }
    return sync;
}

void monitorExit(JNIEnv* env, jobject token) {
    if (synchronizeOnGC != 0) env->MonitorExit(token);
}

void raiseOn(JNIEnv* env, const char* message) {
    if (env->ExceptionCheck()) return;  // the first error stays the one the caller sees
    jclass c = env->FindClass(exceptionClassName);
    if (c != nullptr) env->ThrowNew(c, message);
}

void throwException(const char* message, MonitorLock* lock) {
    raiseOn(activeEnv, message);
    if (lock != nullptr) lock->exit();
    throw EngineError{};
}

void abortWithPendingJavaException() { throw EngineError{}; }

void throwOutOfMemory() { throwException("Assert failed: Out of memory", nullptr); }

void throwStackExhausted() { throwException("Assert failed: Stack exhausted", nullptr); }
