#include "engine/Watch.h"

#include <limits>

std::atomic<char*> stackLimit{nullptr};
bool (*watchReportHook)(int64_t) = nullptr;
int32_t watchCountdown = std::numeric_limits<int32_t>::max();

namespace {

// The stack limit of the native call in progress, which a cancellation hides.
char* threadLimit;
std::atomic<bool> watching{false};
std::atomic<bool> cancelRequested{false};
int32_t reportInterval;  // 0: no reports
int64_t nodesMade;       // since the watch began, up to the last report
int32_t countdownStart;

char* const aboveEveryFrame = reinterpret_cast<char*>(std::numeric_limits<uintptr_t>::max());

bool cancelled() { return watching.load() && cancelRequested.load(); }

void rearm(int32_t creations) {
    countdownStart = creations;
    watchCountdown = creations;
}

}  // namespace

void setStackLimit(char* limit) {
    threadLimit = limit;
    stackLimit.store(limit);
    // A cancellation that came before this store stays in force (one that comes after makes its own).
    if (cancelled()) stackLimit.store(aboveEveryFrame);
}

void stackLimitReached() {
    if (static_cast<char*>(__builtin_frame_address(0)) < threadLimit) throwException(msgStackExhausted);
    if (cancelled()) throwException(msgCancelled);
    stackLimit.store(threadLimit);  // moved by a cancellation of a watch that has ended since
}

void startWatch(int32_t nodesBetweenReports) {
    cancelRequested.store(false);
    reportInterval = nodesBetweenReports > 0 ? nodesBetweenReports : 0;
    nodesMade = 0;
    rearm(reportInterval > 0 ? reportInterval : std::numeric_limits<int32_t>::max());
    watching.store(true);
    stackLimit.store(threadLimit);
}

void endWatch() {
    watching.store(false);
    cancelRequested.store(false);
    reportInterval = 0;
    rearm(std::numeric_limits<int32_t>::max());
    stackLimit.store(threadLimit);
}

bool watchOn() { return watching.load(); }

void requestCancel() {
    if (!watching.load()) return;
    cancelRequested.store(true);
    stackLimit.store(aboveEveryFrame);
}

void watchCreationsDue() {
    nodesMade += countdownStart - watchCountdown;
    if (reportInterval == 0) {
        rearm(std::numeric_limits<int32_t>::max());
        return;
    }
    rearm(reportInterval);
    if (cancelled()) throwException(msgCancelled);
    if (watchReportHook != nullptr && !watchReportHook(nodesMade)) {
        cancelRequested.store(true);
        throwException(msgCancelled);
    }
}
