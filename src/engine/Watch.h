// Watching the operations of the engine thread: progress reports, and cancellation from any thread.
//
// While a watch is on, make-node counts the nodes it creates and every `nodesBetweenReports` of
// them asks the host's report hook, which may stop the operation. Any thread may cancel the watched
// operation in progress (`requestCancel`, which takes no lock and touches no state of the store): it
// moves the stack limit above every frame, so the test that every recursion level makes anyway
// (`checkStack`) stops the operation at its next level. Either way the operation leaves through the
// error exit with "Assert failed: Cancelled", giving back what it held, like any error: no
// reference, node or mark stays behind, and every diagram the caller holds is as it was. A
// cancellation applies until the watch ends: later operations of the same watch stop at once. With
// no watch on, a cancellation is ignored and nothing is counted but one falling counter.
#pragma once

#include "engine/BDDNativeImpl.h"

// Begins a watch: reports every `nodesBetweenReports` creations (none when 0 or less) through the
// hook; clears an earlier cancellation.
void startWatch(int32_t nodesBetweenReports);
void endWatch();
bool watchOn();
// Any thread: cancels the watched operation in progress, and every later one of the watch.
void requestCancel();

// The host's report: the nodes created since the watch began; false stops the operation.
extern bool (*watchReportHook)(int64_t nodesMade);

// Creations until the next report (make-node's countdown); `watchCreationsDue` makes the report.
extern int32_t watchCountdown;
[[gnu::cold]] void watchCreationsDue();
inline void countWatchedCreation() {
    if (--watchCountdown <= 0) [[unlikely]] watchCreationsDue();
}
