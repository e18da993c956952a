// What the library takes from the Java side: the host lookups of start-up, the Java monitor that
// guards the release queue (installed as the engine's queue lock), and the raising of
// NativeBDDException. Every JNI call of the library is made in jni/; the engine below knows none.
//
// Host classes (package com/zvk/quarnelbrisk/...): BDDNativeProxy with its static field
// "syncObject" (the monitor), NativeBDDException (raised by every error exit), ThreadCallback
// ("checkCancelled" ()Z and "informProgress" (IILjava/lang/String;)V, called on the callback given
// to the stream operations), Formatter ("formatSize" (J)Ljava/lang/String;, looked up by each
// statistics report), and the platform's ObjectOutputStream.writeObject,
// ObjectInputStream.readObject, Vector and String.
#pragma once

#include "engine/RefCounts.h"

#include <jni.h>

inline constexpr const char* exceptionClassName = "com/zvk/quarnelbrisk/bdd/nativeproxy/NativeBDDException";

// The environment of the native call in progress (set by its frame), for the one JNI call that the
// engine makes without knowing it: the queue lock of the engine thread. Everything else in jni/ is
// handed its environment.
extern JNIEnv* activeEnv;

// Host lookups made by start-up.
extern jclass syncCls;
extern jfieldID syncFieldID;
extern jmethodID writeObjectMethodID;
extern jmethodID readObjectMethodID;
extern jmethodID checkCancelledMethodID;
extern jmethodID informProgressMethodID;

// Start-up lookups, in their fixed order. Keeps the class of BDDNativeProxy as a global reference
// and the field and method IDs for the life of the store. Returns false, with the Java error
// pending, when a class, field or method is missing.
bool lookupHostClasses(JNIEnv* env);

// The monitor: with locking off (`synchronizeOnGC` 0) no JNI call is made and the token is null.
// Otherwise the token is the object in "syncObject" once this thread holds its monitor, or null
// when it could not be entered.
jobject monitorEnter(JNIEnv* env);
// Makes the monitor the engine's queue lock (engine/RefCounts.h): a `QueueLock` entered on the
// engine thread takes it with `activeEnv`, one that names a thread (`QueueLock lock(env)`, a release
// from another Java thread) with that thread's environment.
void installQueueLock();

// Thrown by the JNI layer when a Java exception is pending that ends the operation; the frame
// leaves that exception as it is.
struct JavaExceptionPending {};
// Throws JavaExceptionPending when a Java exception is pending on env.
inline void checkJava(JNIEnv* env) {
    if (env->ExceptionCheck()) throw JavaExceptionPending{};
}

// Sets a pending Java exception aside while the monitor is taken and given back (MonitorEnter may
// not run with an exception pending), and raises it again afterwards unless the guarded work
// raised an error of its own.
struct PendingExceptionAside {
    JNIEnv* env;
    jthrowable saved;
    explicit PendingExceptionAside(JNIEnv* e) : env(e), saved(e->ExceptionOccurred()) {
        if (saved != nullptr) env->ExceptionClear();
    }
    PendingExceptionAside(const PendingExceptionAside&) = delete;
    PendingExceptionAside& operator=(const PendingExceptionAside&) = delete;
    ~PendingExceptionAside() {
        if (saved != nullptr && !env->ExceptionCheck()) env->Throw(saved);
    }
};

// Raises NativeBDDException(message) on env, unless a Java exception is pending already: the first
// error stays the one the caller sees.
void raiseOn(JNIEnv* env, const char* message);

// ---- Host objects around the engine (jni/HostStreams.cpp, jni/Statistics.cpp) ---------------------
// The diagram stream to and from Java object streams, with a ThreadCallback (or null) for progress;
// every JNI call on `env`, the environment of the native call.
void serialize(JNIEnv* env, jobject stream, int32_t rootCount, const int32_t* roots, jobject callback,
               double progressShare, jstring progressMessage);
jintArray deserialize(JNIEnv* env, jobject stream, jobject callback, double progressShare, jstring progressMessage);
// The five-line statistics report, and the store's size in bytes, in nominal units; the store's
// figures in real units (BDDEngineNativeProxy.doGetStats).
jobjectArray getInfo(JNIEnv* env);
int32_t getMemoryState();
jlongArray getStats(JNIEnv* env);
