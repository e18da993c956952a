// What the library takes from the Java side: the host lookups of start-up, the Java monitor that
// guards the release queue, and the raising of NativeBDDException.
//
// Host classes (package com/zvk/quarnelbrisk/...): BDDNativeProxy with its static field
// "syncObject" (the monitor), NativeBDDException (raised by every error exit), ThreadCallback
// ("checkCancelled" ()Z and "informProgress" (IILjava/lang/String;)V, called on the callback given
// to the stream operations), Formatter ("formatSize" (J)Ljava/lang/String;, looked up by each
// statistics report), and the platform's ObjectOutputStream.writeObject,
// ObjectInputStream.readObject, Vector and String.
#pragma once

#include "engine/BDDNativeImpl.h"

inline constexpr const char* exceptionClassName = "com/zvk/quarnelbrisk/bdd/nativeproxy/NativeBDDException";

// Start-up lookups, in their fixed order. Keeps the class of BDDNativeProxy as a global reference
// and the field and method IDs for the life of the store. Returns false, with the Java error
// pending, when a class, field or method is missing.
bool lookupHostClasses(JNIEnv* env);

// The monitor: with locking off (`synchronizeOnGC` 0) no JNI call is made and the token is null.
// Otherwise the token is the object in "syncObject" once this thread holds its monitor, or null
// when it could not be entered.
jobject monitorEnter(JNIEnv* env);
void monitorExit(JNIEnv* env, jobject token);

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

// Holds the monitor for one guarded section and lets it go on every exit. `throwException` lets it
// go before it unwinds, after raising the Java exception.
struct MonitorLock {
    JNIEnv* env;
    jobject token;
    explicit MonitorLock(JNIEnv* e) : env(e), token(monitorEnter(e)) {}
    MonitorLock(const MonitorLock&) = delete;
    MonitorLock& operator=(const MonitorLock&) = delete;
    ~MonitorLock() { exit(); }
    // True when locking is on and the monitor could not be entered: the guarded work is given up.
    bool failed() const { return synchronizeOnGC != 0 && token == nullptr; }
    // Exits exactly what was entered, even if locking was switched off meanwhile by a new start-up.
    void exit() noexcept {
        if (token == nullptr) return;
        env->MonitorExit(token);
        env->DeleteLocalRef(token);
        token = nullptr;
    }
};

// Raises NativeBDDException(message) on a thread's own environment without touching the engine
// (refusals made before or outside a frame).
void raiseOn(JNIEnv* env, const char* message);
