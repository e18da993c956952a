#include "support/TestJvm.h"

#include "jni/CallFrame.h"

#include <cstdio>

JNIEnv* testEnv;

void startEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled) {
    activeEnv = testEnv;
    stackLimit = threadStackLimit();
    init(maxNodeCache, maxOpCache, gcRate, gcEnabled);
}

std::string engineErrorOf(const std::function<void()>& body) {
    activeEnv = testEnv;
    stackLimit = threadStackLimit();
    try {
        body();
    } catch (const EngineError&) {
        if (!testEnv->ExceptionCheck()) return "<EngineError without a Java exception>";
    }
    jthrowable t = testEnv->ExceptionOccurred();
    if (t == nullptr) return "";
    testEnv->ExceptionClear();
    jmethodID getMessage = testEnv->GetMethodID(testEnv->FindClass("java/lang/Throwable"), "getMessage",
                                                "()Ljava/lang/String;");
    auto message = static_cast<jstring>(testEnv->CallObjectMethod(t, getMessage));
    if (message == nullptr) return "<no message>";
    const char* chars = testEnv->GetStringUTFChars(message, nullptr);
    std::string text = chars;
    testEnv->ReleaseStringUTFChars(message, chars);
    return text;
}

Node setOf(const Layout& layout, const std::vector<Tuple>& tuples) {
    Node s = zero;
    for (const Tuple& t : tuples) {
        const Node next = addTuple(s, layout.fields(), layout.first.data(), layout.width.data(), t.data());
        if (s != zero) doDecRefCount(s, nullptr);
        s = next;
    }
    return s;
}

std::vector<Tuple> listTuples(Node node, const Layout& layout, int32_t maxTuples) {
    jobject vector = getNTuples(node, layout.fields(), layout.first.data(), layout.width.data(),
                                layout.bound.data(), maxTuples);
    jclass cls = testEnv->FindClass("java/util/Vector");
    const jmethodID get = testEnv->GetMethodID(cls, "get", "(I)Ljava/lang/Object;");
    std::vector<Tuple> out(static_cast<size_t>(testEnv->CallIntMethod(vector, testEnv->GetMethodID(cls, "size", "()I"))));
    for (size_t i = 0; i < out.size(); ++i) {
        auto a = static_cast<jintArray>(testEnv->CallObjectMethod(vector, get, static_cast<jint>(i)));
        out[i].resize(static_cast<size_t>(testEnv->GetArrayLength(a)));
        testEnv->GetIntArrayRegion(a, 0, static_cast<jsize>(out[i].size()), out[i].data());
        testEnv->DeleteLocalRef(a);
    }
    testEnv->DeleteLocalRef(vector);
    return out;
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string classPath = std::string("-Djava.class.path=") + ENGINE_TEST_CLASSPATH;
    std::string libraryPath = std::string("-Djava.library.path=") + ENGINE_TEST_LIBPATH;
    JavaVMOption options[] = {{classPath.data(), nullptr}, {libraryPath.data(), nullptr}};
    JavaVMInitArgs args{JNI_VERSION_10, 2, options, JNI_FALSE};
    JavaVM* vm = nullptr;
    if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&testEnv), &args) != JNI_OK) {
        std::fprintf(stderr, "cannot start the Java virtual machine\n");
        return 2;
    }
    return RUN_ALL_TESTS();
}
