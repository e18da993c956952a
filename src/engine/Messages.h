// Every message of the library's error exits, in one place for the engine, the JNI layer and the
// tests. Each begins with "Assert failed: ", and Java callers see it unchanged as the message of
// NativeBDDException.
#pragma once

// The store and its release queue.
inline constexpr const char* msgNegativeRefcount = "Assert failed: Negative refcount";
inline constexpr const char* msgMustBeAnEntry = "Assert failed: There must be an entry";
inline constexpr const char* msgOutOfMemory = "Assert failed: Out of memory";
inline constexpr const char* msgStackExhausted = "Assert failed: Stack exhausted";
// A watched operation cancelled from any thread, or by its progress callback.
inline constexpr const char* msgCancelled = "Assert failed: Cancelled";
inline constexpr const char* msgVariableOrder = "Assert failed: Variable order violated";
// Arguments the operations refuse.
inline constexpr const char* msgInvalidVariable = "Assert failed: Invalid variable";
inline constexpr const char* msgInvalidLayout = "Assert failed: Invalid tuple layout";
// Operations over any variables: a list of variables that repeats one or leaves 0..32765, or two
// lists that should pair up and do not; a diagram given as a variable set that is not a cube; a
// variable map that is not one-to-one, or an id that no map was registered under; a tuple value
// that does not fit its field.
inline constexpr const char* msgInvalidVariableList = "Assert failed: Invalid variable list";
inline constexpr const char* msgInvalidVariableSet = "Assert failed: Invalid variable set";
inline constexpr const char* msgInvalidVariableMap = "Assert failed: Invalid variable map";
inline constexpr const char* msgTupleValue = "Assert failed: Tuple value out of range";
// The tuple walks meeting a variable outside the layout.
inline constexpr const char* msgListWalk = "Assert failed: BDDNativeImpl.getTuples";
inline constexpr const char* msgCountWalk = "Assert failed: BDDNativeImpl.getNumOfTuples";
// The diagram stream.
inline constexpr const char* msgMalformedStream = "Assert failed: Malformed diagram stream";
// The native call frame and the arguments only the JNI layer sees.
inline constexpr const char* msgInvalidHandle = "Assert failed: Invalid node handle";
inline constexpr const char* msgNotInitialized = "Assert failed: Engine not initialized";
inline constexpr const char* msgConcurrentCall = "Assert failed: Concurrent or reentrant call";
inline constexpr const char* msgInvalidRootList = "Assert failed: Invalid root list";
inline constexpr const char* msgInvalidStream = "Assert failed: Invalid stream";
inline constexpr const char* msgInvalidCallback = "Assert failed: Invalid callback";
inline constexpr const char* msgInternalError = "Assert failed: Internal error";
inline constexpr const char* msgInvalidCollectionPolicy = "Assert failed: Invalid collection policy";
