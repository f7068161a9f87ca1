// The note-event path from a packed message to the end of the matching pass. The shell call is
// simulated and no code matches, so the figure is tracking plus the linear pass over the list.
#include <benchmark/benchmark.h>

#include "app/app.h"
#include "midi/chord.h"
#include "sim/sim_host.h"

namespace {

void BM_NoteEvent(benchmark::State& state) {
    vos::sim::SimHost host;
    vos::App app(host);
    app.recognition.Enabled = true;
    const auto count = static_cast<std::size_t>(state.range(0));
    for (std::size_t i = 0; i < count; ++i) {
        // Codes with bit 12 set never equal the held mask, so the pass always runs to the end.
        app.recognition.LaunchCodes.push_back(
            {static_cast<std::int32_t>(0x1000 | (i & 0xFFF)),
             L"C:\\Programs\\target" + std::to_wstring(i) + L".exe", L"-x"});
    }
    const std::uint32_t messages[] = {0x403C90, 0x003C90, 0x404090, 0x004090};
    std::size_t n = 0;
    for (auto _ : state) {
        vos::HandleMidiData(app, messages[n++ & 3]);
        benchmark::DoNotOptimize(app.recognition.HeldNotes);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NoteEvent)->Arg(1)->Arg(100)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
