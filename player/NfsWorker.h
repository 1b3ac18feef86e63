// Runs NFS jobs on a thread of its own with libnfs, so the control connection stays served
// while a large file is read. Every job mounts afresh: a reload restarts the PC's server and
// loses every mount.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "player/NfsJob.h"

namespace player {

class NfsWorker {
  public:
    // `wakeFd` (an eventfd) is written after each result, for the main loop's poll.
    explicit NfsWorker(int wakeFd);
    NfsWorker(const NfsWorker&) = delete;
    NfsWorker& operator=(const NfsWorker&) = delete;
    ~NfsWorker();

    // Queues a job; a new job cancels the one running, and jobs still waiting.
    void Submit(NfsJob job);
    std::vector<NfsResult> Take();
    bool Idle();
    // Cancels everything; the destructor then returns soon.
    void Cancel();

  private:
    void Run();
    void Push(NfsResult result);

    const int wakeFd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<NfsJob> jobs_;
    std::vector<NfsResult> results_;
    bool busy_ = false;
    bool stop_ = false;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

} // namespace player
