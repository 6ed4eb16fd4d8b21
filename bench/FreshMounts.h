#pragma once
// Timing of a reading pattern on fresh mounts: each pass mounts anew (not timed), reads (timed) and
// unmounts (not timed), so that nothing the mounts decoded or cached carries over between passes.

#include "Mount.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bench {

// Mounts stacked on each other (a file system in a file of another), unmounted top first.
struct MountStack {
    std::vector<std::unique_ptr<Mount>> mounts;
    ~MountStack()
    {
        while (!mounts.empty())
            mounts.pop_back();
    }
    std::string point() const { return mounts.back()->file(""); }
};

// Each pass: `mount` fills a fresh stack, then `read` reads below its top mount's point. `work` is
// bytes a pass, or minus the reads a pass. A failed mount or read ends the benchmark with an error.
void timeFreshMounts(benchmark::State& state, const std::function<void(MountStack&)>& mount,
                     const std::function<bool(const std::string& point)>& read, std::int64_t work);

} // namespace bench
