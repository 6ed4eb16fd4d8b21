#include "FreshMounts.h"

#include <exception>

namespace bench {

void timeFreshMounts(benchmark::State& state, const std::function<void(MountStack&)>& mount,
                     const std::function<bool(const std::string& point)>& read, std::int64_t work)
{
    for (auto _ : state) {
        state.PauseTiming();
        bool good = false;
        try {
            MountStack stack;
            mount(stack);
            state.ResumeTiming();
            good = read(stack.point());
            state.PauseTiming();
        } catch (const std::exception& error) {
            state.SkipWithError(error.what());
        }
        state.ResumeTiming();
        if (!good) {
            state.SkipWithError("short read");
            break;
        }
    }
    if (work > 0)
        state.SetBytesProcessed(state.iterations() * work);
    else
        state.SetItemsProcessed(state.iterations() * -work);
}

} // namespace bench
