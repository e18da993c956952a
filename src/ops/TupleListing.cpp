// Tuple listing: the tuples of a set within per-field bounds, ascending, into a java.util.Vector.
#include "ops/TupleLayout.h"
#include "ops/TupleWalks.h"

#include <memory>

namespace {

constexpr const char* listMessage = "Assert failed: BDDNativeImpl.getTuples";

// A local reference that is deleted on every exit unless it is handed on.
struct LocalRef {
    JNIEnv* env;
    jobject ref;
    LocalRef(JNIEnv* e, jobject r) : env(e), ref(r) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() {
        if (ref != nullptr) env->DeleteLocalRef(ref);
    }
    jobject release() noexcept {
        const jobject r = ref;
        ref = nullptr;
        return r;
    }
};

// Adds the tuple in `curValues` to the Vector as a new int array and lets the array's local
// reference go. A Java exception (no array, or one raised by `add`) ends the walk and stays pending.
void appendTuple(const TupleListing& walk) {
    JNIEnv* env = activeEnv;
    const jintArray a = env->NewIntArray(walk.numFields);
    if (a == nullptr) throwOutOfMemory();  // keeps the Java error when one is pending
    if (walk.numFields > 0) env->SetIntArrayRegion(a, 0, walk.numFields, walk.curValues);
    env->CallBooleanMethod(walk.vector, walk.add, a);
    env->DeleteLocalRef(a);
    if (env->ExceptionCheck()) abortWithPendingJavaException();
}

// Some field of width 0 (whose one value is 0) with a bound of 0 or less: no tuple is in bounds.
bool emptyFieldOutOfBounds(int32_t numFields, const int32_t* fieldWidth, const int32_t* fieldBound) {
    for (int32_t f = 0; f < numFields; ++f)
        if (fieldWidth[f] == 0 && fieldBound[f] <= 0) return true;
    return false;
}

}  // namespace

jobject getNTuples(Node node, int32_t numFields, const int32_t* fieldFirstVar, const int32_t* fieldWidth,
                   const int32_t* fieldBound, int32_t maxTuples) {
    validateTupleLayout(numFields, fieldFirstVar, fieldWidth);
    JNIEnv* env = activeEnv;
    LocalRef vectorClass(env, env->FindClass("java/util/Vector"));
    if (vectorClass.ref == nullptr) abortWithPendingJavaException();
    const auto cls = static_cast<jclass>(vectorClass.ref);
    const jmethodID constructor = env->GetMethodID(cls, "<init>", "()V");
    if (constructor == nullptr) abortWithPendingJavaException();
    const jmethodID add = env->GetMethodID(cls, "add", "(Ljava/lang/Object;)Z");
    if (add == nullptr) abortWithPendingJavaException();
    LocalRef vector(env, env->NewObject(cls, constructor));
    if (vector.ref == nullptr) abortWithPendingJavaException();

    const std::unique_ptr<int32_t[]> curValues(new int32_t[numFields > 0 ? numFields : 1]());
    const TupleListing walk{vector.ref, add, numFields, fieldFirstVar, fieldWidth, fieldBound, curValues.get()};
    if (node != zero) {
        if (numFields <= 0) {
            // No fields: `one` holds the empty tuple, the only one there is; any other node tests a
            // variable outside the layout.
            if (node != one) throwException(listMessage, nullptr);
            appendTuple(walk);
        } else if (!emptyFieldOutOfBounds(numFields, fieldWidth, fieldBound)) {
            getNTuplesWork(node, walk, 0, fieldFirstVar[0], maxTuples);
        }
    }
    return vector.release();
}

// `remaining` falls by one per listed tuple, with 32-bit wrap-around. A call that gets 0 back ends
// the walk at once, leaving `curValues` as it is.
int32_t getNTuplesWork(Node node, const TupleListing& walk, int32_t fieldIndex, int32_t curVar, int32_t remaining) {
    checkStack();
    if (passFieldEnds(walk.numFields, walk.fieldFirstVar, walk.fieldWidth, fieldIndex, curVar)) {
        // Past the last field only `one` may remain: anything else tests a variable after it.
        if (node != one) throwException(listMessage, nullptr);
        appendTuple(walk);
        return static_cast<int32_t>(static_cast<uint32_t>(remaining) - 1);
    }
    const BddNode& r = nodeOf(node);
    Node branch0;
    Node branch1;
    if (r.var > curVar || node == one) {
        branch0 = node;  // free variable: both values, same continuation
        branch1 = node;
    } else if (r.var == curVar) {
        branch0 = r.low;
        branch1 = r.high;
    } else {
        throwException(listMessage, nullptr);  // a variable in a gap, or before the first field
    }

    // The bound test sees the bits decided so far, which no completion of them undercuts.
    int32_t& c = walk.curValues[fieldIndex];
    const int32_t bound = walk.fieldBound[fieldIndex];
    c = static_cast<int32_t>(static_cast<uint32_t>(c) << 1);
    if (branch0 != zero && c < bound) {
        remaining = getNTuplesWork(branch0, walk, fieldIndex, curVar + 1, remaining);
        if (remaining == 0) return 0;
    }
    c = static_cast<int32_t>(static_cast<uint32_t>(c) + 1);
    if (branch1 != zero && c < bound) {
        remaining = getNTuplesWork(branch1, walk, fieldIndex, curVar + 1, remaining);
        if (remaining == 0) return 0;
    }
    c >>= 1;
    return remaining;
}
