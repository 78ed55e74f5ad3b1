#pragma once

#include <atomic>
#include <exception>
#include <mutex>

namespace updater {

class NativeApp;
struct UpdateFileEntry;
struct UpdatePlan;

// The progress weight of an entry: its size when its CRC is to be computed, else 1.
long long CheckWeight(const UpdateFileEntry& entry);

// Shared state of one check phase; the update run owns it and reads it after the join.
struct CheckPhase {
    explicit CheckPhase(long long totalWeight) : totalWeight(totalWeight) {}

    std::atomic<unsigned> nextCheckIndex{0};
    std::atomic<long long> checkedWeight{0};
    const long long totalWeight;
    std::mutex downloadsMutex;
    std::atomic<int> needDownloadCount{0};
    std::exception_ptr firstCheckError;
    std::mutex checkErrorMutex;
};

// Compares plan entries with the disk until none is left, queuing in
// plan.downloads what must be fetched. Lets nothing escape: a cancellation or
// an unexpected error is stored in firstCheckError (the first one wins) and
// then stops every worker through cancelUpdate.
void CheckWorker(NativeApp& app, unsigned id, UpdatePlan& plan, CheckPhase& phase);

// Weighs the plan's entries and runs the check workers over them, as many as
// the machine's degree allows and the entries need; rethrows the first stored
// error after the join.
void RunCheckPhase(NativeApp& app, UpdatePlan& plan);

}  // namespace updater
