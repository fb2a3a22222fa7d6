// The encodes of a run, spread over threads: each sound is encoded by one thread, alone, so the
// units come out the same whatever the number of threads.
#pragma once

#include "problem.hpp"
#include "xa_adpcm.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace lvlsnd {

// The width of the progress line, which clearing it writes over.
inline constexpr std::size_t progressWidth = 54;

struct EncodeJob {
  std::span<const std::int16_t> samples;
  std::string name; // for the progress line: "effect 3"
  std::vector<SoundUnit> units;
  std::atomic<std::size_t> unitsDone{0};
  std::atomic<bool> started{false};
};

// Encodes every job on at most `threads` threads, the longest first: fewer when the system
// starts fewer, with the same units. When `progress` is not null (a terminal), a run of encodes
// that lasts more than about a second shows how far it is, redrawn in place, and clears that
// line when done. The problem, naming `program`, when no thread could start ("Cannot start a
// thread (<reason>)") or an encode ran out of memory ("Out of memory").
Outcome encodeJobs(std::span<EncodeJob> jobs, std::size_t threads, std::FILE* progress,
                   const char* program);

} // namespace lvlsnd
