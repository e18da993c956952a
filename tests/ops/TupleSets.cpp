#include "ops/TupleSets.h"

#include <algorithm>

namespace {

struct FieldBit {
    int32_t var;
    int32_t field;
    int32_t bit;  // 0 = least significant
};

std::vector<FieldBit> fieldBits(const Layout& layout) {
    std::vector<FieldBit> bits;
    for (int32_t f = 0; f < layout.numFields(); ++f)
        for (int32_t k = 0; k < layout.width[f]; ++k)
            bits.push_back({layout.first[f] + k, f, layout.width[f] - 1 - k});
    return bits;
}

bool bitOf(const Tuple& t, const FieldBit& b) { return ((t[b.field] >> b.bit) & 1) != 0; }

Node build(const std::vector<FieldBit>& bits, size_t k, const std::vector<Tuple>& tuples) {
    if (tuples.empty()) return zero;
    if (k == bits.size()) return one;
    std::vector<Tuple> lo;
    std::vector<Tuple> hi;
    for (const Tuple& t : tuples) (bitOf(t, bits[k]) ? hi : lo).push_back(t);
    const Node low = build(bits, k + 1, lo);
    NodeHold held{low};
    const Node high = build(bits, k + 1, hi);
    return cacheNode(bits[k].var, held.release(), high);
}

}  // namespace

Node buildSet(const Layout& layout, const TupleSet& tuples) {
    std::vector<Tuple> masked;
    for (Tuple t : tuples) {
        for (int32_t f = 0; f < layout.numFields(); ++f)
            t[f] &= static_cast<int32_t>((uint32_t{1} << layout.width[f]) - 1);
        masked.push_back(t);
    }
    std::sort(masked.begin(), masked.end());
    masked.erase(std::unique(masked.begin(), masked.end()), masked.end());
    return build(fieldBits(layout), 0, masked);
}

std::vector<Tuple> readVector(jobject vector) {
    JNIEnv* env = testEnv;
    std::vector<Tuple> out;
    jclass cls = env->FindClass("java/util/Vector");
    const jmethodID size = env->GetMethodID(cls, "size", "()I");
    const jmethodID get = env->GetMethodID(cls, "get", "(I)Ljava/lang/Object;");
    const jint n = env->CallIntMethod(vector, size);
    for (jint i = 0; i < n; ++i) {
        auto a = static_cast<jintArray>(env->CallObjectMethod(vector, get, i));
        Tuple t(static_cast<size_t>(env->GetArrayLength(a)));
        if (!t.empty()) env->GetIntArrayRegion(a, 0, static_cast<jsize>(t.size()), t.data());
        env->DeleteLocalRef(a);
        out.push_back(std::move(t));
    }
    env->DeleteLocalRef(cls);
    env->DeleteLocalRef(vector);
    return out;
}

std::vector<Tuple> listTuples(Node node, const Layout& layout, int32_t maxTuples) {
    jobject v = getNTuples(node, layout.numFields(), layout.first.data(), layout.width.data(), layout.bound.data(),
                           maxTuples);
    return readVector(v);
}
