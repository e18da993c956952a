// A stand-in for the Java virtual machine, for the fuzz targets and the soak run: a JNIEnv whose
// function table implements the few JNI functions the engine uses, in C++, and records what
// happens. Every other slot of the table aborts with its name, so an unexpected JNI use is a
// finding, not a silent success.
//
// What the stand-in checks on every call it serves (and aborts on, naming the rule):
//   - no JNI function but the exception-safe ones (ExceptionCheck, ExceptionOccurred,
//     ExceptionClear, the Release* functions, DeleteLocalRef, DeleteGlobalRef, MonitorExit) runs
//     while an exception is pending;
//   - a reference is used only while it is alive (a local reference dies at DeleteLocalRef or when
//     the native call returns; the memory is freed, so AddressSanitizer reports a late use);
//   - pinned array elements and string characters are copies on the heap, exactly as long as the
//     array (a read past the end is an AddressSanitizer report) and freed on release;
//   - MonitorExit only exits a monitor that the thread holds;
//   - classes, fields and methods are the host contract's and no others.
// `endNativeCall` then checks what a native must leave behind: no pinned arrays or strings, no
// monitor held, at most a few local references created and not deleted.
#pragma once

#include <jni.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fakejni {

// The environment handed to the natives.
JNIEnv* env();

// Prints "FINDING: <what>" and aborts the process.
[[noreturn]] void finding(const std::string& what);

// ---- Objects the host side makes (they live until `releaseHostObjects`) ---------------------------
jintArray newHostIntArray(const std::vector<int32_t>& values);
// An ObjectOutputStream that keeps the objects written to it.
jobject newOutputStream();
// An ObjectInputStream that returns `object` (an int array, or any host object) from readObject.
jobject newInputStream(jobject object);
// The objects written to an output stream so far.
std::vector<jobject> writtenObjects(jobject outputStream);
// A ThreadCallback: checkCancelled answers true from its call number `cancelAt` on (counted from
// 0; -1 never), raises a Java exception ("callback failure") at call `throwAt` (-1 never).
jobject newCallback(int cancelAt, int throwAt);
int callbackReports(jobject callback);  // informProgress calls so far
jstring newHostString(const std::string& text);
// Frees every host object and every local reference that a native returned.
void releaseHostObjects();

// ---- Reading what a native returned ---------------------------------------------------------------
std::vector<int32_t> intArrayContents(jintArray array);
std::vector<std::vector<int32_t>> vectorOfIntArrays(jobject vector);
std::vector<std::string> stringArray(jobjectArray array);

// ---- The pending exception ------------------------------------------------------------------------
bool exceptionPending();
// The class name and message of the pending exception ("" when none), clearing it.
struct PendingException {
    std::string className;
    std::string message;
};
PendingException takeException();

// ---- Around each native call ----------------------------------------------------------------------
void beginNativeCall();
// Checks what the call left behind (see above) and frees its local references except `keep`
// (the result, which becomes a host-side reference until `releaseHostObjects`).
void endNativeCall(jobject keep = nullptr);
// Live global references (the engine keeps one while it is initialised).
int globalRefCount();

// Runs engine code outside a native, as a frame would: sets the engine's environment and stack
// limit, catches its error exit, and returns the message of the NativeBDDException it raised ("" for
// none). Any other exception class pending is returned as "<class>: <message>".
std::string engineErrorOf(const std::function<void()>& body);

}  // namespace fakejni
