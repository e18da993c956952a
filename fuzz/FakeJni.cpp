#include "FakeJni.h"

#include "JniSlotNames.h"
#include "engine/BDDNativeImpl.h"
#include "jni/CallFrame.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <utility>

namespace fakejni {

namespace {

// ---- Objects and references -----------------------------------------------------------------------
struct Obj {
    std::string cls;   // class name; "java/lang/Class" for a class object
    std::string text;  // class objects: the class named; strings: the text; throwables: the message
    std::vector<int32_t> ints;
    std::vector<std::shared_ptr<Obj>> elems;  // object arrays, Vectors, what a stream was given
    std::shared_ptr<Obj> readResult;          // an input stream's one object
    int cancelAt = -1, throwAt = -1, calls = 0, reports = 0;
    int monitorDepth = 0;
};

enum class RefKind { local, global, host };
constexpr uint32_t liveMagic = 0x5EFA11FEu;

struct Ref {
    uint32_t magic;
    RefKind kind;
    std::shared_ptr<Obj> obj;
};

std::set<Ref*> locals;  // local references of the native call in progress
std::set<Ref*> hosts;
std::set<Ref*> globals;
std::shared_ptr<Obj> pending;
std::map<const void*, std::shared_ptr<Obj>> pins;  // pinned elements and characters
std::shared_ptr<Obj> syncObject = std::make_shared<Obj>(Obj{"java/lang/Object", {}, {}, {}, {}});
constexpr size_t maxLocals = 16;  // what a native may hold without asking the JVM for more

constexpr const char* knownClasses[] = {
    "com/zvk/quarnelbrisk/bdd/nativeproxy/BDDNativeProxy", "com/zvk/quarnelbrisk/bdd/nativeproxy/NativeBDDException",
    "com/zvk/quarnelbrisk/ui/ThreadCallback",              "com/zvk/quarnelbrisk/utils/Formatter",
    "java/io/ObjectOutputStream",                          "java/io/ObjectInputStream",
    "java/util/Vector",                                    "java/lang/String",
    "[I",
};

struct Member {
    const char* cls;
    const char* name;
    const char* sig;
    bool isStatic;
};
const Member members[] = {
    {"com/zvk/quarnelbrisk/bdd/nativeproxy/BDDNativeProxy", "syncObject", "Ljava/lang/Object;", true},
    {"java/io/ObjectOutputStream", "writeObject", "(Ljava/lang/Object;)V", false},
    {"java/io/ObjectInputStream", "readObject", "()Ljava/lang/Object;", false},
    {"com/zvk/quarnelbrisk/ui/ThreadCallback", "checkCancelled", "()Z", false},
    {"com/zvk/quarnelbrisk/ui/ThreadCallback", "informProgress", "(IILjava/lang/String;)V", false},
    {"java/util/Vector", "<init>", "()V", false},
    {"java/util/Vector", "add", "(Ljava/lang/Object;)Z", false},
    {"com/zvk/quarnelbrisk/utils/Formatter", "formatSize", "(J)Ljava/lang/String;", true},
};
enum MemberIndex { mSync, mWrite, mRead, mCancelled, mProgress, mVectorInit, mVectorAdd, mFormatSize };

const Member* memberOf(const void* id, const char* fn) {
    for (const Member& m : members)
        if (static_cast<const void*>(&m) == id) return &m;
    finding(std::string(fn) + ": not a member ID the stand-in handed out");
}

jobject makeRef(RefKind kind, std::shared_ptr<Obj> obj) {
    if (obj == nullptr) return nullptr;
    auto* r = new Ref{liveMagic, kind, std::move(obj)};
    switch (kind) {
    case RefKind::local:
        locals.insert(r);
        if (locals.size() > maxLocals) finding("a native holds more than 16 local references");
        break;
    case RefKind::global: globals.insert(r); break;
    case RefKind::host: hosts.insert(r); break;
    }
    return reinterpret_cast<jobject>(r);
}

void dropRef(Ref* r) {
    r->magic = 0;
    delete r;
}

Ref* refOf(jobject o, const char* fn) {
    if (o == nullptr) finding(std::string(fn) + " on a null reference");
    auto* r = reinterpret_cast<Ref*>(o);
    if (r->magic != liveMagic) finding(std::string(fn) + " on a dead reference");
    return r;
}

Obj& objOf(jobject o, const char* fn) { return *refOf(o, fn)->obj; }

// The JNI functions that may run while an exception is pending are the exception functions, the
// Release* functions, DeleteLocalRef/DeleteGlobalRef and MonitorExit; all others check this first.
void noPending(const char* fn) {
    if (pending != nullptr)
        finding(std::string("JNI ") + fn + " called with an exception pending (" + pending->cls + ": " +
                pending->text + ")");
}

const std::string& classNameOf(jclass c, const char* fn) {
    Obj& o = objOf(c, fn);
    if (o.cls != "java/lang/Class") finding(std::string(fn) + " given an object that is not a class");
    return o.text;
}

std::shared_ptr<Obj> classObject(const std::string& name) {
    static std::map<std::string, std::shared_ptr<Obj>> classes;
    auto& c = classes[name];
    if (c == nullptr) c = std::make_shared<Obj>(Obj{"java/lang/Class", name, {}, {}, {}});
    return c;
}

Obj& intArray(jobject a, const char* fn) {
    Obj& o = objOf(a, fn);
    if (o.cls != "[I") finding(std::string(fn) + " on an object that is not an int array");
    return o;
}

void raise(const char* cls, const char* message) {
    pending = std::make_shared<Obj>(Obj{cls, message, {}, {}, {}});
}

// ---- The implemented functions --------------------------------------------------------------------
jclass JNICALL findClass(JNIEnv*, const char* name) {
    noPending("FindClass");
    for (const char* k : knownClasses)
        if (std::strcmp(k, name) == 0) return static_cast<jclass>(makeRef(RefKind::local, classObject(name)));
    finding(std::string("FindClass of a class outside the host contract: ") + name);
}

const Member* lookupMember(jclass c, const char* name, const char* sig, bool isStatic, const char* fn) {
    noPending(fn);
    const std::string& cls = classNameOf(c, fn);
    for (const Member& m : members)
        if (cls == m.cls && std::strcmp(name, m.name) == 0 && std::strcmp(sig, m.sig) == 0 && m.isStatic == isStatic)
            return &m;
    finding(std::string(fn) + " of a member outside the host contract: " + cls + "." + name + " " + sig);
}

jfieldID JNICALL getStaticFieldID(JNIEnv*, jclass c, const char* name, const char* sig) {
    return reinterpret_cast<jfieldID>(const_cast<Member*>(lookupMember(c, name, sig, true, "GetStaticFieldID")));
}
jmethodID JNICALL getMethodID(JNIEnv*, jclass c, const char* name, const char* sig) {
    return reinterpret_cast<jmethodID>(const_cast<Member*>(lookupMember(c, name, sig, false, "GetMethodID")));
}
jmethodID JNICALL getStaticMethodID(JNIEnv*, jclass c, const char* name, const char* sig) {
    return reinterpret_cast<jmethodID>(const_cast<Member*>(lookupMember(c, name, sig, true, "GetStaticMethodID")));
}

jobject JNICALL getStaticObjectField(JNIEnv*, jclass c, jfieldID id) {
    noPending("GetStaticObjectField");
    classNameOf(c, "GetStaticObjectField");
    if (memberOf(id, "GetStaticObjectField") != &members[mSync]) finding("GetStaticObjectField of another field");
    return makeRef(RefKind::local, syncObject);
}

jint JNICALL monitorEnter(JNIEnv*, jobject o) {
    noPending("MonitorEnter");
    ++objOf(o, "MonitorEnter").monitorDepth;
    return JNI_OK;
}
jint JNICALL monitorExit(JNIEnv*, jobject o) {
    Obj& obj = objOf(o, "MonitorExit");
    if (obj.monitorDepth == 0) finding("MonitorExit of a monitor this thread does not hold");
    --obj.monitorDepth;
    return JNI_OK;
}

jint JNICALL throwNew(JNIEnv*, jclass c, const char* message) {
    noPending("ThrowNew");
    raise(classNameOf(c, "ThrowNew").c_str(), message);
    return 0;
}
jint JNICALL throwObject(JNIEnv*, jthrowable t) {
    noPending("Throw");
    pending = refOf(t, "Throw")->obj;
    return 0;
}
jboolean JNICALL exceptionCheck(JNIEnv*) { return pending != nullptr ? JNI_TRUE : JNI_FALSE; }
jthrowable JNICALL exceptionOccurred(JNIEnv*) { return static_cast<jthrowable>(makeRef(RefKind::local, pending)); }
void JNICALL exceptionClear(JNIEnv*) { pending = nullptr; }

jobject JNICALL newGlobalRef(JNIEnv*, jobject o) {
    noPending("NewGlobalRef");
    if (o == nullptr) return nullptr;
    return makeRef(RefKind::global, refOf(o, "NewGlobalRef")->obj);
}
void JNICALL deleteGlobalRef(JNIEnv*, jobject o) {
    if (o == nullptr) return;
    Ref* r = refOf(o, "DeleteGlobalRef");
    if (r->kind != RefKind::global) finding("DeleteGlobalRef of a reference that is not global");
    globals.erase(r);
    dropRef(r);
}
void JNICALL deleteLocalRef(JNIEnv*, jobject o) {
    if (o == nullptr) return;
    Ref* r = refOf(o, "DeleteLocalRef");
    if (r->kind == RefKind::global) finding("DeleteLocalRef of a global reference");
    if (r->kind == RefKind::host) return;  // an argument: deleting it is allowed and changes nothing here
    locals.erase(r);
    dropRef(r);
}

jboolean JNICALL isInstanceOf(JNIEnv*, jobject o, jclass c) {
    noPending("IsInstanceOf");
    const std::string& name = classNameOf(c, "IsInstanceOf");
    if (o == nullptr) return JNI_TRUE;
    return objOf(o, "IsInstanceOf").cls == name ? JNI_TRUE : JNI_FALSE;
}

jsize JNICALL getArrayLength(JNIEnv*, jarray a) {
    noPending("GetArrayLength");
    Obj& o = objOf(a, "GetArrayLength");
    if (o.cls == "[I") return static_cast<jsize>(o.ints.size());
    if (o.cls.rfind("[L", 0) == 0) return static_cast<jsize>(o.elems.size());
    finding("GetArrayLength on an object that is not an array");
}

jint* JNICALL getIntArrayElements(JNIEnv*, jintArray a, jboolean* isCopy) {
    noPending("GetIntArrayElements");
    Obj& o = intArray(a, "GetIntArrayElements");
    auto* copy = static_cast<jint*>(std::malloc(o.ints.empty() ? 1 : o.ints.size() * sizeof(jint)));
    if (copy == nullptr) finding("out of host memory");
    if (!o.ints.empty()) std::memcpy(copy, o.ints.data(), o.ints.size() * sizeof(jint));
    pins[copy] = refOf(a, "GetIntArrayElements")->obj;
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return copy;
}
void JNICALL releaseIntArrayElements(JNIEnv*, jintArray a, jint* elems, jint mode) {
    Obj& o = intArray(a, "ReleaseIntArrayElements");
    auto p = pins.find(elems);
    if (p == pins.end() || p->second.get() != &o) finding("ReleaseIntArrayElements of elements not pinned from this array");
    if (mode == 0 || mode == JNI_COMMIT)
        if (!o.ints.empty()) std::memcpy(o.ints.data(), elems, o.ints.size() * sizeof(jint));
    if (mode == JNI_COMMIT) return;
    pins.erase(p);
    std::free(elems);
}

void JNICALL getIntArrayRegion(JNIEnv*, jintArray a, jsize start, jsize len, jint* buf) {
    noPending("GetIntArrayRegion");
    Obj& o = intArray(a, "GetIntArrayRegion");
    if (start < 0 || len < 0 || static_cast<size_t>(start) + static_cast<size_t>(len) > o.ints.size())
        finding("GetIntArrayRegion out of the array's bounds");
    if (len > 0) std::memcpy(buf, o.ints.data() + start, static_cast<size_t>(len) * sizeof(jint));
}

jintArray JNICALL newIntArray(JNIEnv*, jsize n) {
    noPending("NewIntArray");
    if (n < 0) finding("NewIntArray of a negative length");
    auto o = std::make_shared<Obj>(Obj{"[I", {}, {}, {}, {}});
    o->ints.assign(static_cast<size_t>(n), 0);
    return static_cast<jintArray>(makeRef(RefKind::local, std::move(o)));
}
void JNICALL setIntArrayRegion(JNIEnv*, jintArray a, jsize start, jsize len, const jint* buf) {
    noPending("SetIntArrayRegion");
    Obj& o = intArray(a, "SetIntArrayRegion");
    if (start < 0 || len < 0 || static_cast<size_t>(start) + static_cast<size_t>(len) > o.ints.size())
        finding("SetIntArrayRegion out of the array's bounds");
    if (len > 0) std::memcpy(o.ints.data() + start, buf, static_cast<size_t>(len) * sizeof(jint));
}

jobjectArray JNICALL newObjectArray(JNIEnv*, jsize n, jclass c, jobject init) {
    noPending("NewObjectArray");
    if (n < 0) finding("NewObjectArray of a negative length");
    auto o = std::make_shared<Obj>(Obj{"[L" + classNameOf(c, "NewObjectArray") + ";", {}, {}, {}, {}});
    o->elems.assign(static_cast<size_t>(n), init != nullptr ? refOf(init, "NewObjectArray")->obj : nullptr);
    return static_cast<jobjectArray>(makeRef(RefKind::local, std::move(o)));
}
void JNICALL setObjectArrayElement(JNIEnv*, jobjectArray a, jsize i, jobject v) {
    noPending("SetObjectArrayElement");
    Obj& o = objOf(a, "SetObjectArrayElement");
    if (o.cls.rfind("[L", 0) != 0) finding("SetObjectArrayElement on an object that is not an object array");
    if (i < 0 || static_cast<size_t>(i) >= o.elems.size()) finding("SetObjectArrayElement out of bounds");
    o.elems[static_cast<size_t>(i)] = v != nullptr ? refOf(v, "SetObjectArrayElement")->obj : nullptr;
}

jstring JNICALL newStringUTF(JNIEnv*, const char* s) {
    noPending("NewStringUTF");
    return static_cast<jstring>(makeRef(RefKind::local, std::make_shared<Obj>(Obj{"java/lang/String", s, {}, {}, {}})));
}
const char* JNICALL getStringUTFChars(JNIEnv*, jstring s, jboolean* isCopy) {
    noPending("GetStringUTFChars");
    Obj& o = objOf(s, "GetStringUTFChars");
    if (o.cls != "java/lang/String") finding("GetStringUTFChars on an object that is not a String");
    char* copy = static_cast<char*>(std::malloc(o.text.size() + 1));
    if (copy == nullptr) finding("out of host memory");
    std::memcpy(copy, o.text.c_str(), o.text.size() + 1);
    pins[copy] = refOf(s, "GetStringUTFChars")->obj;
    if (isCopy != nullptr) *isCopy = JNI_TRUE;
    return copy;
}
void JNICALL releaseStringUTFChars(JNIEnv*, jstring s, const char* chars) {
    Obj& o = objOf(s, "ReleaseStringUTFChars");
    auto p = pins.find(chars);
    if (p == pins.end() || p->second.get() != &o) finding("ReleaseStringUTFChars of characters not taken from this string");
    pins.erase(p);
    std::free(const_cast<char*>(chars));
}

// Method calls: the host contract's methods, carried out on the stand-in's objects.
jobject JNICALL newObjectV(JNIEnv*, jclass c, jmethodID id, va_list) {
    noPending("NewObject");
    const std::string& cls = classNameOf(c, "NewObject");
    if (memberOf(id, "NewObject") != &members[mVectorInit] || cls != "java/util/Vector")
        finding("NewObject of a constructor other than Vector()");
    return makeRef(RefKind::local, std::make_shared<Obj>(Obj{"java/util/Vector", {}, {}, {}, {}}));
}

jobject JNICALL callObjectMethodV(JNIEnv*, jobject o, jmethodID id, va_list) {
    noPending("CallObjectMethod");
    Obj& obj = objOf(o, "CallObjectMethod");
    if (memberOf(id, "CallObjectMethod") != &members[mRead] || obj.cls != "java/io/ObjectInputStream")
        finding("CallObjectMethod of a method other than ObjectInputStream.readObject");
    if (obj.calls++ > 0) {
        raise("java/io/EOFException", "");
        return nullptr;
    }
    return makeRef(RefKind::local, obj.readResult);
}

jboolean JNICALL callBooleanMethodV(JNIEnv*, jobject o, jmethodID id, va_list args) {
    noPending("CallBooleanMethod");
    Obj& obj = objOf(o, "CallBooleanMethod");
    const Member* m = memberOf(id, "CallBooleanMethod");
    if (m == &members[mVectorAdd] && obj.cls == "java/util/Vector") {
        jobject element = va_arg(args, jobject);
        obj.elems.push_back(element != nullptr ? refOf(element, "Vector.add")->obj : nullptr);
        return JNI_TRUE;
    }
    if (m == &members[mCancelled] && obj.cls == "com/zvk/quarnelbrisk/ui/ThreadCallback") {
        const int call = obj.calls++;
        if (call == obj.throwAt) {
            raise("java/lang/IllegalStateException", "callback failure");
            return JNI_FALSE;
        }
        return obj.cancelAt >= 0 && call >= obj.cancelAt ? JNI_TRUE : JNI_FALSE;
    }
    finding("CallBooleanMethod of a method other than Vector.add and ThreadCallback.checkCancelled");
}

void JNICALL callVoidMethodV(JNIEnv*, jobject o, jmethodID id, va_list args) {
    noPending("CallVoidMethod");
    Obj& obj = objOf(o, "CallVoidMethod");
    const Member* m = memberOf(id, "CallVoidMethod");
    if (m == &members[mWrite] && obj.cls == "java/io/ObjectOutputStream") {
        jobject written = va_arg(args, jobject);
        obj.elems.push_back(written != nullptr ? refOf(written, "writeObject")->obj : nullptr);
        return;
    }
    if (m == &members[mProgress] && obj.cls == "com/zvk/quarnelbrisk/ui/ThreadCallback") {
        const jint done = va_arg(args, jint);
        const jint total = va_arg(args, jint);
        jobject message = va_arg(args, jobject);
        if (done < 0 || total < 0) finding("informProgress with a negative figure");
        if (message != nullptr) refOf(message, "informProgress");
        ++obj.reports;
        return;
    }
    finding("CallVoidMethod of a method other than writeObject and informProgress");
}

jobject JNICALL callStaticObjectMethodV(JNIEnv*, jclass c, jmethodID id, va_list args) {
    noPending("CallStaticObjectMethod");
    classNameOf(c, "CallStaticObjectMethod");
    if (memberOf(id, "CallStaticObjectMethod") != &members[mFormatSize])
        finding("CallStaticObjectMethod of a method other than Formatter.formatSize");
    const jlong bytes = va_arg(args, jlong);
    const std::string text = std::to_string(static_cast<long long>(bytes)) + " B";
    return makeRef(RefKind::local, std::make_shared<Obj>(Obj{"java/lang/String", text, {}, {}, {}}));
}

// ---- The table --------------------------------------------------------------------------------------
constexpr size_t slotCount = sizeof(JNINativeInterface_) / sizeof(void*);
static_assert(slotCount == sizeof(jniSlotNames) / sizeof(jniSlotNames[0]), "one name per slot of the table");

template <size_t N>
void unexpectedCall() {
    finding(std::string("unexpected JNI call: ") + jniSlotNames[N]);
}

template <size_t... I>
void fillWithStubs(void** slots, std::index_sequence<I...>) {
    ((slots[I] = I < 4 ? nullptr : reinterpret_cast<void*>(&unexpectedCall<I>)), ...);
}

JNINativeInterface_ makeTable() {
    JNINativeInterface_ t;
    fillWithStubs(reinterpret_cast<void**>(&t), std::make_index_sequence<slotCount>());
    t.FindClass = findClass;
    t.GetStaticFieldID = getStaticFieldID;
    t.GetMethodID = getMethodID;
    t.GetStaticMethodID = getStaticMethodID;
    t.GetStaticObjectField = getStaticObjectField;
    t.MonitorEnter = monitorEnter;
    t.MonitorExit = monitorExit;
    t.ThrowNew = throwNew;
    t.Throw = throwObject;
    t.ExceptionCheck = exceptionCheck;
    t.ExceptionOccurred = exceptionOccurred;
    t.ExceptionClear = exceptionClear;
    t.NewGlobalRef = newGlobalRef;
    t.DeleteGlobalRef = deleteGlobalRef;
    t.DeleteLocalRef = deleteLocalRef;
    t.IsInstanceOf = isInstanceOf;
    t.GetArrayLength = getArrayLength;
    t.GetIntArrayElements = getIntArrayElements;
    t.ReleaseIntArrayElements = releaseIntArrayElements;
    t.GetIntArrayRegion = getIntArrayRegion;
    t.NewIntArray = newIntArray;
    t.SetIntArrayRegion = setIntArrayRegion;
    t.NewObjectArray = newObjectArray;
    t.SetObjectArrayElement = setObjectArrayElement;
    t.NewStringUTF = newStringUTF;
    t.GetStringUTFChars = getStringUTFChars;
    t.ReleaseStringUTFChars = releaseStringUTFChars;
    t.NewObjectV = newObjectV;
    t.CallObjectMethodV = callObjectMethodV;
    t.CallBooleanMethodV = callBooleanMethodV;
    t.CallVoidMethodV = callVoidMethodV;
    t.CallStaticObjectMethodV = callStaticObjectMethodV;
    return t;
}

const JNINativeInterface_ table = makeTable();
JNIEnv theEnv{&table};

Obj& hostObj(jobject o, const char* cls, const char* fn) {
    Obj& obj = objOf(o, fn);
    if (obj.cls != cls) finding(std::string(fn) + ": not a " + cls);
    return obj;
}

}  // namespace

JNIEnv* env() { return &theEnv; }

void finding(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

jintArray newHostIntArray(const std::vector<int32_t>& values) {
    auto o = std::make_shared<Obj>(Obj{"[I", {}, values, {}, {}});
    return static_cast<jintArray>(makeRef(RefKind::host, std::move(o)));
}

jobject newOutputStream() {
    return makeRef(RefKind::host, std::make_shared<Obj>(Obj{"java/io/ObjectOutputStream", {}, {}, {}, {}}));
}

jobject newInputStream(jobject object) {
    auto o = std::make_shared<Obj>(Obj{"java/io/ObjectInputStream", {}, {}, {}, {}});
    o->readResult = object != nullptr ? refOf(object, "newInputStream")->obj : nullptr;
    return makeRef(RefKind::host, std::move(o));
}

std::vector<jobject> writtenObjects(jobject outputStream) {
    std::vector<jobject> out;
    for (const auto& o : hostObj(outputStream, "java/io/ObjectOutputStream", "writtenObjects").elems)
        out.push_back(makeRef(RefKind::host, o));
    return out;
}

jobject newCallback(int cancelAt, int throwAt) {
    auto o = std::make_shared<Obj>(Obj{"com/zvk/quarnelbrisk/ui/ThreadCallback", {}, {}, {}, {}});
    o->cancelAt = cancelAt;
    o->throwAt = throwAt;
    return makeRef(RefKind::host, std::move(o));
}

int callbackReports(jobject callback) {
    return hostObj(callback, "com/zvk/quarnelbrisk/ui/ThreadCallback", "callbackReports").reports;
}

jstring newHostString(const std::string& text) {
    return static_cast<jstring>(
        makeRef(RefKind::host, std::make_shared<Obj>(Obj{"java/lang/String", text, {}, {}, {}})));
}

void releaseHostObjects() {
    for (Ref* r : hosts) dropRef(r);
    hosts.clear();
}

std::vector<int32_t> intArrayContents(jintArray array) { return intArray(array, "intArrayContents").ints; }

std::vector<std::vector<int32_t>> vectorOfIntArrays(jobject vector) {
    std::vector<std::vector<int32_t>> out;
    for (const auto& e : hostObj(vector, "java/util/Vector", "vectorOfIntArrays").elems) {
        if (e == nullptr || e->cls != "[I") finding("a listed element is not an int array");
        out.push_back(e->ints);
    }
    return out;
}

std::vector<std::string> stringArray(jobjectArray array) {
    std::vector<std::string> out;
    for (const auto& e : hostObj(array, "[Ljava/lang/String;", "stringArray").elems)
        out.push_back(e != nullptr ? e->text : std::string("<null>"));
    return out;
}

bool exceptionPending() { return pending != nullptr; }

PendingException takeException() {
    if (pending == nullptr) return {};
    PendingException e{pending->cls, pending->text};
    pending = nullptr;
    return e;
}

void beginNativeCall() {
    if (!locals.empty()) finding("local references left from an earlier call");
}

void endNativeCall(jobject keep) {
    if (!pins.empty()) finding("a native returned with array elements or string characters still pinned");
    if (syncObject->monitorDepth != 0) finding("a native returned holding the monitor of syncObject");
    for (Ref* r : locals) {
        if (reinterpret_cast<jobject>(r) == keep) {
            r->kind = RefKind::host;
            hosts.insert(r);
        } else {
            dropRef(r);
        }
    }
    locals.clear();
}

int globalRefCount() { return static_cast<int>(globals.size()); }

std::string engineErrorOf(const std::function<void()>& body) {
    beginNativeCall();
    activeEnv = env();
    stackLimit = threadStackLimit();
    try {
        body();
    } catch (const EngineError& e) {
        raiseOn(env(), e.message);
    }
    endNativeCall();
    const PendingException e = takeException();
    if (e.className.empty() || e.className == "com/zvk/quarnelbrisk/bdd/nativeproxy/NativeBDDException") return e.message;
    return e.className + ": " + e.message;
}

}  // namespace fakejni
