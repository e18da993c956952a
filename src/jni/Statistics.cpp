// The statistics report: five lines on the size of the store, and its memory use in bytes; and the
// store's figures in real units.
#include "engine/OpCache.h"
#include "engine/UniqueTable.h"
#include "jni/HostContract.h"

#include <cstdio>
#include <string>

namespace {

// The nominal sizes in bytes that the report counts for a bucket, a cache entry and a node record.
// They are fixed figures that Java callers compare across versions, not measured from this
// engine's own records and cache entries, whose sizes differ (a `BddNode` takes 20 bytes, a bucket
// 5 with its filter byte).
constexpr uint32_t bytesPerBucket = 4;
constexpr uint32_t bytesPerCacheEntry = 24;
constexpr uint32_t bytesPerRecord = 24;

void storeLine(JNIEnv* env, jobjectArray lines, jsize index, const std::string& text) {
    jstring s = env->NewStringUTF(text.c_str());
    checkJava(env);
    env->SetObjectArrayElement(lines, index, s);
    checkJava(env);
}

std::string formatted(const char* format, int32_t value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// "<prefix><formatSize(bytes)>"; a null from formatSize prints as an empty size.
std::string sizeLine(JNIEnv* env, jclass formatter, jmethodID formatSize, const char* prefix, int64_t bytes) {
    auto text = static_cast<jstring>(env->CallStaticObjectMethod(formatter, formatSize, static_cast<jlong>(bytes)));
    checkJava(env);
    std::string line = prefix;
    if (text != nullptr) {
        const char* chars = env->GetStringUTFChars(text, nullptr);
        checkJava(env);
        line += chars;
        env->ReleaseStringUTFChars(text, chars);
    }
    return line;
}

}  // namespace

jobjectArray getInfo(JNIEnv* env) {
    jclass stringClass = env->FindClass("java/lang/String");
    checkJava(env);
    jobjectArray lines = env->NewObjectArray(5, stringClass, nullptr);
    checkJava(env);
    storeLine(env, lines, 0, formatted("Alive nodes: %d", manager.nodeCacheOccupied));
    storeLine(env, lines, 1, formatted("Total nodes allocated: %d", manager.totalNodesAllocated));
    jclass formatter = env->FindClass("com/zvk/quarnelbrisk/utils/Formatter");
    checkJava(env);
    jmethodID formatSize = env->GetStaticMethodID(formatter, "formatSize", "(J)Ljava/lang/String;");
    checkJava(env);
    const auto sized = [&](const char* prefix, uint32_t bytesEach, int32_t count) {
        return sizeLine(env, formatter, formatSize, prefix, int64_t{bytesEach} * count);
    };
    storeLine(env, lines, 2, sized("Nodes cache size: ", bytesPerBucket, manager.reportedNodeCacheLength));
    storeLine(env, lines, 3, sized("Op cache size: ", bytesPerCacheEntry, manager.opCacheLength));
    storeLine(env, lines, 4, sized("Nodes size: ", bytesPerRecord, manager.totalNodesAllocated));
    return lines;
}

// The same three figures summed modulo 2^32.
int32_t getMemoryState() {
    const uint32_t sum = bytesPerBucket * static_cast<uint32_t>(manager.reportedNodeCacheLength) +
                         bytesPerCacheEntry * static_cast<uint32_t>(manager.opCacheLength) +
                         bytesPerRecord * static_cast<uint32_t>(manager.totalNodesAllocated);
    return static_cast<int32_t>(sum);
}

// In the order of the STAT_ indexes of BDDEngineNativeProxy.
jlongArray getStats(JNIEnv* env) {
    const jlong figures[] = {
        manager.nodeCacheOccupied,
        manager.totalNodesAllocated,
        freeRecords(),
        static_cast<jlong>(sizeof(BddNode)) * manager.totalNodesAllocated,
        manager.nodeCacheLength,
        static_cast<jlong>(bytesPerNodeBucket) * manager.nodeCacheLength,
        opCacheSlots(),
        opCacheEntries(),
        opCacheBytes(),
        manager.collectionsRun,
        nodesCreated(),
        int64_t{manager.finalizedNodesPos} + manager.heldReleasesCount,
        manager.collectWhenFull ? manager.recordBudget : 0,
    };
    constexpr jsize count = sizeof figures / sizeof figures[0];
    jlongArray out = env->NewLongArray(count);
    checkJava(env);
    env->SetLongArrayRegion(out, 0, count, figures);
    checkJava(env);
    return out;
}
