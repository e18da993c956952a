// The entry frame: refusals, the error exit, and the natives that need no frame.
#include "support/TestJvm.h"

#include "jni/CallFrame.h"

extern "C" {
jint Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetZero(JNIEnv*, jclass);
jint Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetMemoryState(JNIEnv*, jclass);
jint Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeEquals(JNIEnv*, jclass, jint, jint);
void Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doIncRefCount(JNIEnv*, jclass, jint);
void Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(JNIEnv*, jclass, jint);
}

namespace {
jint getZero() { return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetZero(testEnv, nullptr); }
jint memoryState() {
    return Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetMemoryState(testEnv, nullptr);
}
}  // namespace

TEST_F(EngineTest, CallsBeforeStartUpAreRefused) {
    activeEnv = testEnv;
    releaseStore();
    EXPECT_EQ(getZero(), 0);
    EXPECT_EQ(takePendingMessage(), "Assert failed: Engine not initialized");
    EXPECT_EQ(memoryState(), 0) << "no frame, no check";
    EXPECT_EQ(takePendingMessage(), "");
    Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(testEnv, nullptr, 5);
    EXPECT_EQ(takePendingMessage(), "") << "a release before start-up does nothing at all";
}

TEST_F(EngineTest, ACallWhileAFrameRunsIsRefused) {
    const Node z = zero;
    JNIEnv* const running = activeEnv;
    frameBusy = true;
    activeEnv = nullptr;  // the refusal must not touch the frame in progress
    EXPECT_EQ(getZero(), 0);
    EXPECT_EQ(activeEnv, nullptr);
    frameBusy = false;
    activeEnv = running;
    EXPECT_EQ(takePendingMessage(), "Assert failed: Concurrent or reentrant call");
    EXPECT_EQ(static_cast<Node>(getZero()), z);
    EXPECT_FALSE(frameBusy);
}

TEST_F(EngineTest, TheErrorExitReturnsZeroWithTheExceptionPending) {
    EXPECT_EQ(Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeEquals(testEnv, nullptr, 4, 4), 0);
    EXPECT_EQ(takePendingMessage(), "Assert failed: Invalid variable");
    EXPECT_FALSE(frameBusy);
    EXPECT_NE(Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doMakeEquals(testEnv, nullptr, 4, 5), 0);
    EXPECT_EQ(takePendingMessage(), "");
}

TEST_F(EngineTest, ReleasesFromJavaCheckTheRangeOnly) {
    const Node n = cacheNode(3, zero, one);
    for (jint bad : {0, -7, 1001, 0x7FFFFFFF}) {
        Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(testEnv, nullptr, bad);
        EXPECT_EQ(takePendingMessage(), "Assert failed: Invalid node handle") << bad;
    }
    EXPECT_EQ(finalizedNodesPos, 0);
    Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(testEnv, nullptr, static_cast<jint>(n));
    EXPECT_EQ(finalizedNodesPos, 1);
    collectGarbage();
    Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doIncRefCount(testEnv, nullptr, static_cast<jint>(n));
    EXPECT_EQ(takePendingMessage(), "Assert failed: Invalid node handle") << "a freed record";
}

