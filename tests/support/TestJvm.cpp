#include "support/TestJvm.h"

#include "jni/CallFrame.h"

#include <cstdio>

JavaVM* testVm;
JNIEnv* testEnv;

void startEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled) {
    activeEnv = testEnv;
    stackLimit = threadStackLimit();
    init(maxNodeCache, maxOpCache, gcRate, gcEnabled);
}

std::string takePendingMessage() {
    jthrowable t = testEnv->ExceptionOccurred();
    if (t == nullptr) return "";
    testEnv->ExceptionClear();
    jclass throwable = testEnv->FindClass("java/lang/Throwable");
    jmethodID getMessage = testEnv->GetMethodID(throwable, "getMessage", "()Ljava/lang/String;");
    auto message = static_cast<jstring>(testEnv->CallObjectMethod(t, getMessage));
    std::string text = "<no message>";
    if (message != nullptr) {
        const char* chars = testEnv->GetStringUTFChars(message, nullptr);
        text = chars;
        testEnv->ReleaseStringUTFChars(message, chars);
    }
    return text;
}

std::string engineErrorOf(const std::function<void()>& body) {
    activeEnv = testEnv;
    stackLimit = threadStackLimit();
    try {
        body();
    } catch (const EngineError&) {
        const std::string message = takePendingMessage();
        return message.empty() ? "<EngineError without a Java exception>" : message;
    }
    return takePendingMessage();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string classPath = std::string("-Djava.class.path=") + ENGINE_TEST_CLASSPATH;
    std::string libraryPath = std::string("-Djava.library.path=") + ENGINE_TEST_LIBPATH;
    JavaVMOption options[2];
    options[0].optionString = classPath.data();
    options[1].optionString = libraryPath.data();
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_10;
    args.nOptions = 2;
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    if (JNI_CreateJavaVM(&testVm, reinterpret_cast<void**>(&testEnv), &args) != JNI_OK) {
        std::fprintf(stderr, "cannot start the Java virtual machine\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
