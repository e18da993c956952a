// The diagram stream between Java object streams and the engine's int buffers, with the progress
// reports and cancellation of a ThreadCallback.
//
// The writer's ints go to Java as one new int array through `writeObject`; the reader takes one
// object from `readObject`, copies its ints in one bulk call and hands them to the engine. A stream
// or callback of another class than its method IDs belong to is refused before anything happens.
// A Java exception raised by a callback stops the operation as a cancellation does; it is set
// aside while the engine cleans up (the monitor cannot be entered while one is pending) and stays
// pending for the caller, unless the clean-up raises an error of its own. An exception raised by
// `writeObject` stays pending; one raised by `readObject` makes the read return null.
#include "jni/CallFrame.h"
#include "serial/DiagramStream.h"

namespace {

// True when obj is a non-null instance of the named class.
bool isInstance(JNIEnv* env, jobject obj, const char* className) {
    if (obj == nullptr) return false;
    jclass c = env->FindClass(className);
    if (c == nullptr) throw JavaExceptionPending{};
    const bool yes = env->IsInstanceOf(obj, c) == JNI_TRUE;
    env->DeleteLocalRef(c);
    return yes;
}

void checkStreamAndCallback(JNIEnv* env, jobject stream, const char* streamClass, jobject callback) {
    if (!isInstance(env, stream, streamClass)) throwException(msgInvalidStream);
    if (callback != nullptr && !isInstance(env, callback, "com/zvk/quarnelbrisk/ui/ThreadCallback"))
        throwException(msgInvalidCallback);
}

// A ThreadCallback as the engine's progress sink.
struct CallbackProgress {
    JNIEnv* env;
    jobject callback;
    jstring message;  // handed unchanged to every report
    jthrowable raised = nullptr;  // what the callback threw, set aside

    // checkCancelled, then informProgress(done, total, message); false on a cancellation or a throw.
    static bool reportAndGoOn(void* context, int32_t done, int32_t total) {
        auto& p = *static_cast<CallbackProgress*>(context);
        const jboolean cancelled = p.env->CallBooleanMethod(p.callback, checkCancelledMethodID);
        if (p.setAsideThrown() || cancelled) return false;
        p.env->CallVoidMethod(p.callback, informProgressMethodID, done, total, p.message);
        return !p.setAsideThrown();
    }

    bool setAsideThrown() {
        if (!env->ExceptionCheck()) return false;
        raised = env->ExceptionOccurred();
        env->ExceptionClear();
        return true;
    }

    StreamProgress sink(double progressShare) {
        return {callback != nullptr ? reportAndGoOn : nullptr, this, progressShare};
    }

    // Raises again what the callback threw, once the engine is done.
    void restore() const {
        if (raised != nullptr) env->Throw(raised);
    }
};

}  // namespace

void serialize(JNIEnv* env, jobject stream, int32_t rootCount, const int32_t* roots, jobject callback,
               double progressShare, jstring progressMessage) {
    checkStreamAndCallback(env, stream, "java/io/ObjectOutputStream", callback);
    // Node and jint differ only in signedness, so the pinned handles are read in place.
    const std::span<const Node> rootNodes(reinterpret_cast<const Node*>(roots), static_cast<size_t>(rootCount));
    for (const Node r : rootNodes) checkedHandle(static_cast<jint>(r));

    CallbackProgress progress{env, callback, progressMessage};
    const StreamInts out = writeDiagramStream(rootNodes, progress.sink(progressShare));
    progress.restore();
    if (out.ints.get() == nullptr) return;

    jintArray array = env->NewIntArray(out.length);
    if (array == nullptr) {
        env->ExceptionClear();
        throwOutOfMemory();
    }
    env->SetIntArrayRegion(array, 0, out.length, out.ints.get());
    // An exception raised by the stream stays pending for the caller; nothing follows the write.
    env->CallVoidMethod(stream, writeObjectMethodID, array);
}

jintArray deserialize(JNIEnv* env, jobject stream, jobject callback, double progressShare, jstring progressMessage) {
    checkStreamAndCallback(env, stream, "java/io/ObjectInputStream", callback);
    jobject read = env->CallObjectMethod(stream, readObjectMethodID);
    if (env->ExceptionCheck()) return nullptr;
    if (!isInstance(env, read, "[I")) throwException(msgMalformedStream);

    // The ints are read from a copy that the engine takes in one bulk call into a prefaulted
    // buffer, which costs less than having the virtual machine hand out a copy of its own; the
    // array itself is never written.
    StreamRoots roots;
    {
        const auto array = static_cast<jintArray>(read);
        const jsize length = env->GetArrayLength(array);
        StreamBuffer<int32_t> ints(length, StreamBufferUse::filled);
        env->GetIntArrayRegion(array, 0, length, ints.get());
        checkJava(env);
        CallbackProgress progress{env, callback, progressMessage};
        roots = readDiagramStream(std::span<const int32_t>(ints.get(), static_cast<size_t>(length)),
                                  progress.sink(progressShare));
        progress.restore();
    }
    if (!roots.complete) return nullptr;

    // From here the references of the roots belong to the array; without one they are given back.
    jintArray result = env->NewIntArray(roots.count);
    if (result == nullptr) {
        env->ExceptionClear();
        releaseNow(roots.nodes.get(), roots.count);
        throwOutOfMemory();
    }
    env->SetIntArrayRegion(result, 0, roots.count, reinterpret_cast<const jint*>(roots.nodes.get()));
    return result;
}
