// The hand-over between the stages of the image pipelines: blocks taken from a fixed pool, passed
// through first-in-first-out queues and put back in order by sequence number. One lock and one condition
// for everything: blocks are megabytes, so a hand-over is rare next to the work on it.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace vorlane {

template <typename Block>
class BlockQueues {
public:
    // Waits for a block of queue; nullptr when the pipeline stopped or the queue is closed and empty.
    Block* Take(std::deque<Block*>& queue, const bool* closed) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || !queue.empty() || (closed && *closed); });
        if (stopped_ || queue.empty()) return nullptr;
        Block* block = queue.front();
        queue.pop_front();
        return block;
    }
    void Put(std::deque<Block*>& queue, Block* block) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue.push_back(block);
        changed_.notify_all();
    }
    // The block of sequence number next once it is ready; nullptr when stopped or when finished (asked
    // under the lock) says that no block of that number will come.
    template <typename Finished>
    Block* TakeInOrder(std::map<uint64_t, Block*>& ready, uint64_t next, Finished finished) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || ready.count(next) || finished(); });
        if (stopped_ || !ready.count(next)) return nullptr;
        Block* block = ready[next];
        ready.erase(next);
        return block;
    }
    void PutReady(std::map<uint64_t, Block*>& ready, uint64_t sequence, Block* block) {
        std::lock_guard<std::mutex> lock(mutex_);
        ready[sequence] = block;
        changed_.notify_all();
    }
    // Changes shared state under the lock and wakes every waiting stage.
    template <typename Change>
    void Update(Change change) {
        std::lock_guard<std::mutex> lock(mutex_);
        change();
        changed_.notify_all();
    }
    // Stops every stage; the first reason given is kept.
    void Fail(const std::string& reason) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error_.empty()) error_ = reason;
        stopped_ = true;
        changed_.notify_all();
    }
    void Stop() { Fail(""); }
    bool Failed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return !error_.empty();
    }
    std::string Error() {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopped_ = false;
    std::string error_;
};

}  // namespace vorlane
