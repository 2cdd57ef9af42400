#pragma once
// Guards for tests of reads that must neither block nor grow without bound: a read that hangs
// ends the test program with a message instead of hanging the suite, and one that keeps
// allocating hits an address-space limit instead of the machine's memory.

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace dahlo::testing {

class Watchdog {
  public:
    Watchdog(std::chrono::seconds limit, std::string what)
        : thread_([this, limit, what = std::move(what)] {
              std::unique_lock lock(mutex_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "FAILED: %s did not return within %lld s\n", what.c_str(),
                               static_cast<long long>(limit.count()));
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// Lets the process map at most `extraBytes` more while it lives.
class AddressSpaceLimit {
  public:
    explicit AddressSpaceLimit(unsigned long long extraBytes) {
        unsigned long long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        active_ = pages > 0 && ::getrlimit(RLIMIT_AS, &saved_) == 0;
        if (!active_) return;
        rlimit limit = saved_;
        limit.rlim_cur =
            pages * static_cast<unsigned long long>(::sysconf(_SC_PAGESIZE)) + extraBytes;
        if (saved_.rlim_cur != RLIM_INFINITY && saved_.rlim_cur < limit.rlim_cur) {
            limit.rlim_cur = saved_.rlim_cur;
        }
        active_ = ::setrlimit(RLIMIT_AS, &limit) == 0;
    }
    ~AddressSpaceLimit() {
        if (active_) ::setrlimit(RLIMIT_AS, &saved_);
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

  private:
    rlimit saved_{};
    bool active_ = false;
};

}  // namespace dahlo::testing
