// The natives of BDDFieldNativeProxy: operations over any variables (ops/AnyVars.h) beyond the
// natives of the other two proxies. A layout is two arrays: each field's variables, most significant
// bit first, one field after the other, and each field's width. Every handle is checked before
// anything changes; a variable set must be the diagram of a cube, a map id one that was registered.
#include "jni/CallFrame.h"
#include "ops/AnyVars.h"
#include "serial/Describe.h"

#include <vector>

#define FIELD_NATIVE(ret, name) \
    extern "C" JNIEXPORT ret JNICALL Java_com_zvk_quarnelbrisk_bdd_nativeproxy_BDDFieldNativeProxy_##name

namespace {

// A Java int array as a list of variables; a missing array is refused with `message`.
std::span<const int32_t> listOf(const IntArrayElements& a, const char* message) {
    if (a.isNull()) throwException(message);
    return {a.data(), static_cast<size_t>(a.length())};
}

Node checkedCube(jint handle) {
    const Node cube = checkedHandle(handle);
    checkCube(cube);
    return cube;
}

// The layout of two pinned arrays: the fields' variables, one field after the other, and the
// fields' widths.
struct PinnedLayout {
    IntArrayElements vars;
    IntArrayElements widths;
    FieldLayout layout;
    PinnedLayout(JNIEnv* env, jintArray fieldVars, jintArray fieldWidths)
        : vars(env, fieldVars), widths(env, fieldWidths) {
        layout = fieldLayoutOf(listOf(vars, msgInvalidLayout), listOf(widths, msgInvalidLayout));
    }
};

// Values for the layout's fields: at least `count` of them.
const int32_t* valuesFor(const IntArrayElements& values, int64_t count) {
    if (values.isNull() || values.length() < count) throwException(msgInvalidLayout);
    return values.data();
}

jintArray newIntArray(JNIEnv* env, const std::vector<int32_t>& ints) {
    const auto length = static_cast<jsize>(ints.size());
    const jintArray out = env->NewIntArray(length);
    if (out == nullptr) throw JavaExceptionPending{};
    env->SetIntArrayRegion(out, 0, length, ints.data());
    return out;
}

}  // namespace

FIELD_NATIVE(jint, doMakeCube)(JNIEnv* env, jclass, jintArray vars) {
    return runFrame(env, true, [&] {
        IntArrayElements list(env, vars);
        return static_cast<jint>(makeCube(listOf(list, msgInvalidVariableList)));
    });
}

FIELD_NATIVE(jint, doExistsSet)(JNIEnv* env, jclass, jint node, jint cube) {
    return runFrame(env, true, [&] {
        const Node n = checkedHandle(node);
        return static_cast<jint>(existsSet(n, checkedCube(cube)));
    });
}

FIELD_NATIVE(jint, doRelprodSet)(JNIEnv* env, jclass, jint a, jint b, jint cube) {
    return runFrame(env, true, [&] {
        const Node na = checkedHandle(a);
        const Node nb = checkedHandle(b);
        return static_cast<jint>(relprodSet(na, nb, checkedCube(cube)));
    });
}

FIELD_NATIVE(jint, doIte)(JNIEnv* env, jclass, jint f, jint g, jint h) {
    return runFrame(env, true, [&] {
        const Node nf = checkedHandle(f);
        const Node ng = checkedHandle(g);
        return static_cast<jint>(ite(nf, ng, checkedHandle(h)));
    });
}

FIELD_NATIVE(jint, doRegisterMap)(JNIEnv* env, jclass, jintArray from, jintArray to) {
    return runFrame(env, true, [&] {
        IntArrayElements sources(env, from);
        IntArrayElements targets(env, to);
        return static_cast<jint>(
            registerVarMap(listOf(sources, msgInvalidVariableMap), listOf(targets, msgInvalidVariableMap)));
    });
}

FIELD_NATIVE(jint, doReplace)(JNIEnv* env, jclass, jint node, jint mapId) {
    return runFrame(env, true, [&] { return static_cast<jint>(replaceVars(checkedHandle(node), mapId)); });
}

FIELD_NATIVE(jintArray, doSupport)(JNIEnv* env, jclass, jint node) {
    return runFrame(env, true, [&] { return newIntArray(env, supportOf(checkedHandle(node))); });
}

FIELD_NATIVE(jint, doMakeTuple)(JNIEnv* env, jclass, jintArray fieldVars, jintArray fieldWidths, jintArray values) {
    return runFrame(env, true, [&] {
        PinnedLayout l(env, fieldVars, fieldWidths);
        IntArrayElements v(env, values);
        return static_cast<jint>(makeFieldTuple(l.layout, valuesFor(v, l.layout.numFields)));
    });
}

FIELD_NATIVE(jint, doAddTuples)(JNIEnv* env, jclass, jint node, jintArray fieldVars, jintArray fieldWidths,
                                jintArray values) {
    return runFrame(env, true, [&] {
        const Node n = checkedHandle(node);
        PinnedLayout l(env, fieldVars, fieldWidths);
        IntArrayElements v(env, values);
        if (v.isNull()) throwException(msgInvalidLayout);
        const int32_t fields = l.layout.numFields;
        // As many whole tuples as the array holds; with no fields, one empty tuple per call.
        if (fields > 0 && v.length() % fields != 0) throwException(msgInvalidLayout);
        const int64_t count = fields > 0 ? v.length() / fields : 1;
        return static_cast<jint>(addFieldTuples(n, l.layout, v.data(), count));
    });
}

FIELD_NATIVE(jbyteArray, doGetExactNumOfTuples)(JNIEnv* env, jclass, jint node, jintArray fieldVars,
                                                jintArray fieldWidths) {
    return runFrame(env, true, [&] {
        const Node n = checkedHandle(node);
        std::vector<uint32_t> limbs;
        {
            PinnedLayout l(env, fieldVars, fieldWidths);
            limbs = exactNumOfTuples(n, l.layout);
        }
        // The big-endian magnitude of a BigInteger.
        std::vector<jbyte> bytes(limbs.size() * 4);
        for (size_t i = 0; i < limbs.size(); ++i)
            for (size_t b = 0; b < 4; ++b)
                bytes[bytes.size() - 1 - (4 * i + b)] = static_cast<jbyte>(limbs[i] >> (8 * b));
        const auto length = static_cast<jsize>(bytes.size());
        const jbyteArray out = env->NewByteArray(length);
        if (out == nullptr) throw JavaExceptionPending{};
        env->SetByteArrayRegion(out, 0, length, bytes.data());
        return out;
    });
}

FIELD_NATIVE(jintArray, doListTuples)(JNIEnv* env, jclass, jint node, jintArray fieldVars, jintArray fieldWidths,
                                      jintArray bounds, jintArray start, jboolean after, jint maxTuples) {
    return runFrame(env, true, [&] {
        const Node n = checkedHandle(node);
        PinnedLayout l(env, fieldVars, fieldWidths);
        IntArrayElements b(env, bounds);
        IntArrayElements s(env, start);
        const int32_t fields = l.layout.numFields;
        if ((!b.isNull() && b.length() < fields) || (!s.isNull() && s.length() < fields))
            throwException(msgInvalidLayout);
        // The count listed, then the values of each tuple in the layout's order.
        std::vector<int32_t> out{0};
        struct Collect {
            std::vector<int32_t>& out;
            static void add(void* c, const int32_t* values, int32_t count) {
                auto& o = static_cast<Collect*>(c)->out;
                o.insert(o.end(), values, values + count);
                ++o[0];
            }
        } collect{out};
        listFieldTuples(n, l.layout, b.isNull() ? nullptr : b.data(), s.isNull() ? nullptr : s.data(), after != 0,
                        maxTuples, {Collect::add, &collect});
        return newIntArray(env, out);
    });
}

FIELD_NATIVE(jint, doMakeRange)(JNIEnv* env, jclass, jintArray vars, jlong lo, jlong hi) {
    return runFrame(env, true, [&] {
        IntArrayElements list(env, vars);
        return static_cast<jint>(makeRange(listOf(list, msgInvalidVariableList), lo, hi));
    });
}

FIELD_NATIVE(jint, doMakeEqual)(JNIEnv* env, jclass, jintArray a, jintArray b) {
    return runFrame(env, true, [&] {
        IntArrayElements x(env, a);
        IntArrayElements y(env, b);
        return static_cast<jint>(makeFieldsEqual(listOf(x, msgInvalidVariableList), listOf(y, msgInvalidVariableList)));
    });
}

FIELD_NATIVE(jint, doMakePlus)(JNIEnv* env, jclass, jintArray from, jintArray to, jlong k) {
    return runFrame(env, true, [&] {
        IntArrayElements x(env, from);
        IntArrayElements y(env, to);
        return static_cast<jint>(makePlus(listOf(x, msgInvalidVariableList), listOf(y, msgInvalidVariableList), k));
    });
}

FIELD_NATIVE(jintArray, doDescribe)(JNIEnv* env, jclass, jintArray roots) {
    return runFrame(env, true, [&] {
        IntArrayElements handles(env, roots);
        if (handles.isNull()) throwException(msgInvalidRootList);
        std::vector<Node> nodes;
        for (jsize i = 0; i < handles.length(); ++i) nodes.push_back(checkedHandle(handles.data()[i]));
        return newIntArray(env, describeDiagrams(nodes));
    });
}
