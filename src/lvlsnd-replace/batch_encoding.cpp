#include "batch_encoding.hpp"

#include "xa_encoder.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
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
};

void encodeQueued(JobQueue& queue) {
  for (std::size_t k; (k = queue.next.fetch_add(1)) < queue.order.size();) {
    auto& job = queue.jobs[queue.order[k]];
    job.started = true;
    job.units = encodeUnits(job.samples, {}, &job.unitsDone);
    std::lock_guard lock(queue.mutex);
    ++queue.jobsDone;
    queue.finished.notify_one();
  }
}

std::size_t unitsOf(const EncodeJob& job) {
  return (job.samples.size() + samplesPerUnit - 1) / samplesPerUnit;
}

// "\r 42% encoded: effect 3, effect 7", the effects being encoded now.
void drawProgress(std::FILE* progress, std::span<EncodeJob> jobs, std::size_t totalUnits) {
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
}

} // namespace

void encodeJobs(std::span<EncodeJob> jobs, std::size_t threads, std::FILE* progress) {
  if (jobs.empty()) {
    return;
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
  std::vector<std::thread> workers;
  for (std::size_t k = 0; k < std::clamp<std::size_t>(threads, 1, jobs.size()); ++k) {
    workers.emplace_back(encodeQueued, std::ref(queue));
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
    std::fprintf(progress, "\r%*s\r", 54, "");
    std::fflush(progress);
  }
}

} // namespace lvlsnd
