#include "support/TestJvm.h"

#include "jni/CallFrame.h"

#include <cstdio>

JNIEnv* testEnv;

void startEngine(int32_t maxNodeCache, int32_t maxOpCache, int32_t gcRate, int32_t gcEnabled) {
    activeEnv = testEnv;
    stackLimit = threadStackLimit();
    installQueueLock();
    init(maxNodeCache, maxOpCache, gcRate, gcEnabled, [] { return lookupHostClasses(activeEnv); });
}

std::string engineErrorOf(const std::function<void()>& body) {
    activeEnv = testEnv;
    stackLimit = threadStackLimit();
    try {
        body();
    } catch (const EngineError& e) {
        raiseOn(testEnv, e.message);
    } catch (const JavaExceptionPending&) {
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
        if (s != zero) doDecRefCount(s);
        s = next;
    }
    return s;
}

std::vector<Tuple> listTuples(Node node, const Layout& layout, int32_t maxTuples) {
    std::vector<Tuple> out;
    const TupleSink sink{[](void* context, const int32_t* values, int32_t numFields) {
                             static_cast<std::vector<Tuple>*>(context)->emplace_back(values, values + numFields);
                         },
                         &out};
    getNTuples(node, layout.fields(), layout.first.data(), layout.width.data(), layout.bound.data(), maxTuples, sink);
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
