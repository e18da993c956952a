// The natives of BDDFieldNativeProxy: operations over fields beyond the natives of the other two
// proxies. The exact number of tuples of a set under a layout (ops/TupleWalks.h) goes to Java as the
// big-endian magnitude of a BigInteger. Its layout is two arrays, first variables and widths; the
// number of fields is the length of the first, and the second must be there and at least as long
// ("Assert failed: Invalid tuple layout").
#include "jni/CallFrame.h"
#include "ops/TupleWalks.h"

#define FIELD_NATIVE(ret, name) \
    extern "C" JNIEXPORT ret JNICALL Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDFieldNativeProxy_##name

FIELD_NATIVE(jbyteArray, doGetExactNumOfTuples)(JNIEnv* env, jclass, jint node, jintArray fieldFirstVar,
                                                jintArray fieldWidth) {
    return runFrame(env, true, [&] {
        const Node n = checkedHandle(node);
        std::vector<uint32_t> limbs;
        {
            IntArrayElements firstVars(env, fieldFirstVar);
            IntArrayElements widths(env, fieldWidth);
            if (firstVars.isNull() || widths.isNull() || widths.length() < firstVars.length())
                throwException(msgInvalidLayout);
            limbs = exactNumOfTuples(n, firstVars.length(), firstVars.data(), widths.data());
        }
        std::vector<jbyte> bytes(limbs.size() * 4);
        for (size_t i = 0; i < limbs.size(); ++i)
            for (size_t b = 0; b < 4; ++b)
                bytes[bytes.size() - 1 - (4 * i + b)] = static_cast<jbyte>(limbs[i] >> (8 * b));
        const auto length = static_cast<jsize>(bytes.size());
        const jbyteArray out = env->NewByteArray(length);
        if (out == nullptr) throwOutOfMemory();
        env->SetByteArrayRegion(out, 0, length, bytes.data());
        return out;
    });
}
