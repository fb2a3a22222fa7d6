#include "batch_encoding.hpp"

#include "xa_encoder.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <numeric>
#include <system_error>
#include <thread>

namespace lvlsnd {

namespace {

// The jobs in the order the threads take them, and what the threads share.
struct JobQueue {
  std::span<EncodeJob> jobs;
  std::vector<std::size_t> order; // the longest first, so that no thread is left with one last
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t jobsDone = 0; // under the mutex
  std::atomic<bool> outOfMemory{false};
};

void encodeQueued(JobQueue& queue) {
  for (std::size_t k; (k = queue.next.fetch_add(1)) < queue.order.size();) {
    auto& job = queue.jobs[queue.order[k]];
    job.started = true;
    try {
      job.units = encodeUnits(job.samples, {}, &job.unitsDone);
    } catch (const std::bad_alloc&) {
      queue.outOfMemory = true; // the run ends with a message once every thread is done
    }
    std::lock_guard lock(queue.mutex);
    ++queue.jobsDone;
    queue.finished.notify_one();
  }
}

std::size_t unitsOf(const EncodeJob& job) {
  return (job.samples.size() + samplesPerUnit - 1) / samplesPerUnit;
}

// "\r 42% encoded: effect 3, effect 7", the effects being encoded now; left out when there is
// no memory for the line.
void drawProgress(std::FILE* progress, std::span<EncodeJob> jobs, std::size_t totalUnits) try {
  std::size_t done = 0;
  std::string now;
  for (const auto& job : jobs) {
    auto units = job.unitsDone.load(std::memory_order_relaxed);
    done += units;
    if (job.started && units < unitsOf(job)) {
      now += (now.empty() ? "" : ", ") + job.name;
    }
  }
  auto percent = totalUnits == 0 ? 100 : done * 100 / totalUnits;
  std::fprintf(progress, "\r%3zu%% encoded: %-40.40s", percent, now.c_str());
  std::fflush(progress);
} catch (const std::bad_alloc&) {
}

// Starts up to `count` threads on the queue; as many as the system starts. They are joined
// however the caller ends, an exception too. The reason the first
// that could not start failed, when none did.
std::string startWorkers(JobQueue& queue, std::size_t count, std::vector<std::jthread>& workers) {
  workers.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    try {
      workers.emplace_back(encodeQueued, std::ref(queue));
    } catch (const std::system_error& error) {
      return workers.empty() ? error.code().message() : "";
    }
  }
  return "";
}

} // namespace

Outcome encodeJobs(std::span<EncodeJob> jobs, std::size_t threads, std::FILE* progress,
                   const char* program) {
  if (jobs.empty()) {
    return std::nullopt;
  }
  JobQueue queue;
  queue.jobs = jobs;
  queue.order.resize(jobs.size());
  std::iota(queue.order.begin(), queue.order.end(), std::size_t{0});
  std::stable_sort(queue.order.begin(), queue.order.end(), [&](std::size_t a, std::size_t b) {
    return jobs[a].samples.size() > jobs[b].samples.size();
  });
  std::size_t totalUnits = 0;
  for (const auto& job : jobs) {
    totalUnits += unitsOf(job);
  }
  std::vector<std::jthread> workers;
  auto notStarted = startWorkers(queue, std::clamp<std::size_t>(threads, 1, jobs.size()), workers);
  if (workers.empty()) {
    return Problem{program, "Cannot start a thread", notStarted};
  }
  using namespace std::chrono_literals;
  auto start = std::chrono::steady_clock::now();
  bool drawn = false;
  {
    std::unique_lock lock(queue.mutex);
    while (queue.jobsDone < jobs.size()) {
      queue.finished.wait_for(lock, 200ms);
      if (progress != nullptr && std::chrono::steady_clock::now() - start > 1s &&
          queue.jobsDone < jobs.size()) {
        drawProgress(progress, jobs, totalUnits);
        drawn = true;
      }
    }
  }
  for (auto& worker : workers) {
    worker.join();
  }
  if (drawn) {
    std::fprintf(progress, "\r%*s\r", static_cast<int>(progressWidth), "");
    std::fflush(progress);
  }
  if (queue.outOfMemory) {
    return Problem{program, "Out of memory", ""};
  }
  return std::nullopt;
}

} // namespace lvlsnd
