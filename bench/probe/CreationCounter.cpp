// The reader of the engine's creation counter, linked only into the probe build of the library
// that the benchmark uses to count nodes created: every new node takes the next `curSerialID`,
// which `init` leaves at 3 after the two terminals.
#include "engine/BDDNativeImpl.h"

#include <jni.h>

extern "C" JNIEXPORT jlong JNICALL Java_com_zvk_quarnelbrisk_bench_EngineProbe_createdNodes(JNIEnv*, jclass) {
    return manager.engineInitialized ? static_cast<jlong>(manager.curSerialID) - 3 : 0;
}
