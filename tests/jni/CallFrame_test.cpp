// Before start-up every framed native is refused; a release, which runs without a frame, does nothing.
#include "support/TestJvm.h"

extern "C" {
jint Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetZero(JNIEnv*, jclass);
void Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(JNIEnv*, jclass, jint);
}

TEST_F(EngineTest, CallsBeforeStartUpAreRefused) {
    releaseStore();
    jint result = -1;
    EXPECT_EQ(engineErrorOf([&] {
                  result = Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDManagerNativeProxy_doGetZero(testEnv, nullptr);
              }),
              "Assert failed: Engine not initialized");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(engineErrorOf([] { Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDNativeProxy_doDecRefCount(testEnv, nullptr, 5); }),
              "")
        << "a release before start-up does nothing at all";
}
