#include "BenchJvm.h"

#include "jni/CallFrame.h"

#include <cstdio>
#include <string>

JNIEnv* benchEnv;

namespace {
JavaVM* benchVm;
}

bool startBenchJvm() {
    if (benchVm != nullptr) return true;
    std::string classPath = std::string("-Djava.class.path=") + BENCH_CLASSPATH;
    std::string libraryPath = std::string("-Djava.library.path=") + BENCH_LIBPATH;
    JavaVMOption options[2];
    options[0].optionString = classPath.data();
    options[1].optionString = libraryPath.data();
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_10;
    args.nOptions = 2;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    if (JNI_CreateJavaVM(&benchVm, reinterpret_cast<void**>(&benchEnv), &args) != JNI_OK) {
        std::fprintf(stderr, "cannot start the Java virtual machine\n");
        return false;
    }
    return true;
}

void startBenchEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled) {
    activeEnv = benchEnv;
    setStackLimit(threadStackLimit());
    installQueueLock();
    init(maxNodeCache, maxOpCache, gcRate, gcEnabled, [] { return lookupHostClasses(activeEnv); });
}
