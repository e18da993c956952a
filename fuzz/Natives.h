// The 26 JNI entry points, declared for the drivers that call them with the stand-in environment.
#pragma once

#include <jni.h>

#define MANAGER_ENTRY(ret, name) JNIEXPORT ret JNICALL Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_##name
#define DIAGRAM_ENTRY(ret, name) JNIEXPORT ret JNICALL Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_##name

extern "C" {
MANAGER_ENTRY(void, doInit)(JNIEnv*, jclass, jint, jint, jint, jboolean);
MANAGER_ENTRY(void, doCollectGarbage)(JNIEnv*, jclass);
MANAGER_ENTRY(jint, doGetMemoryState)(JNIEnv*, jclass);
MANAGER_ENTRY(jobjectArray, doGetInfo)(JNIEnv*, jclass);
MANAGER_ENTRY(jint, doGetZero)(JNIEnv*, jclass);
MANAGER_ENTRY(jint, doGetOne)(JNIEnv*, jclass);
MANAGER_ENTRY(jint, doMakeEquals)(JNIEnv*, jclass, jint, jint);
MANAGER_ENTRY(jint, doMakeSingleTupleUnary)(JNIEnv*, jclass, jint, jint, jint);
MANAGER_ENTRY(jint, doMakeSingleTuple)(JNIEnv*, jclass, jintArray, jintArray, jintArray);
MANAGER_ENTRY(void, doSerialize)(JNIEnv*, jclass, jobject, jintArray, jobject, jdouble, jstring);
MANAGER_ENTRY(jintArray, doDeserialize)(JNIEnv*, jclass, jobject, jobject, jdouble, jstring);

DIAGRAM_ENTRY(void, doIncRefCount)(JNIEnv*, jclass, jint);
DIAGRAM_ENTRY(void, doDecRefCount)(JNIEnv*, jclass, jint);
DIAGRAM_ENTRY(jint, doIntersect)(JNIEnv*, jclass, jint, jint);
DIAGRAM_ENTRY(jint, doUnite)(JNIEnv*, jclass, jint, jint);
DIAGRAM_ENTRY(jint, doComplement)(JNIEnv*, jclass, jint);
DIAGRAM_ENTRY(jboolean, doSuperset)(JNIEnv*, jclass, jint, jint);
DIAGRAM_ENTRY(jint, doAddTuple)(JNIEnv*, jclass, jint, jintArray, jintArray, jintArray);
DIAGRAM_ENTRY(jint, doExistsVar)(JNIEnv*, jclass, jint, jint);
DIAGRAM_ENTRY(jint, doExists)(JNIEnv*, jclass, jint, jint, jint);
DIAGRAM_ENTRY(jboolean, doTestVars)(JNIEnv*, jclass, jint, jint, jint);
DIAGRAM_ENTRY(jint, doRename)(JNIEnv*, jclass, jint, jint, jint, jint);
DIAGRAM_ENTRY(jint, doRelprod)(JNIEnv*, jclass, jint, jint, jint, jint);
DIAGRAM_ENTRY(jint, doGetNumOfNodes)(JNIEnv*, jclass, jint);
DIAGRAM_ENTRY(jobject, doGetNTuples)(JNIEnv*, jclass, jint, jintArray, jintArray, jintArray, jint);
DIAGRAM_ENTRY(jint, doGetNumOfTuples)(JNIEnv*, jclass, jint, jintArray, jintArray, jintArray);
}

#undef MANAGER_ENTRY
#undef DIAGRAM_ENTRY
