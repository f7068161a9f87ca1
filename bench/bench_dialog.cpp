// One keystroke in the configuration dialog, through the simulated host: the path box changes,
// its handler stores the text and rebuilds every line of the code list. The parameter box is the
// baseline: the same keystroke, whose handler stores the text and leaves the list alone.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "config_dialog/frmConfig.h"
#include "sim/sim_host.h"

namespace {

// A dialog opened on a config.bin with `count` entries, the last one selected.
struct OpenDialog {
    explicit OpenDialog(std::size_t count) {
        app.program.MainWindow = vos::sim::SimHost::kMainWindow;
        std::vector<vos::LaunchCode> codes;
        for (std::size_t i = 0; i < count; ++i) {
            codes.push_back({static_cast<std::int32_t>(1 + i % 4095),
                             L"C:\\Program Files\\Tools\\program" + std::to_wstring(i) + L".exe",
                             L"/option " + std::to_wstring(i)});
        }
        host.PutFile(L"config.bin",
                     vos::EncodeSettings(vos::DefaultSettings(L"Sim MIDI In"), codes).bytes);
        if (!vos::LoadConfigDialog(app)) throw std::runtime_error("the dialog did not open");
        dialog().lstCP.UserSelect(static_cast<int>(count) - 1);
    }
    vos::frmConfig& dialog() { return *app.dialog.Config; }

    vos::sim::SimHost host;
    vos::App app{host};
};

// Typing and deleting one character in turn, so that every keystroke is a change.
void Keystrokes(benchmark::State& state, vos::TextBox vos::frmConfig::*box) {
    OpenDialog open(static_cast<std::size_t>(state.range(0)));
    vos::frmConfig& d = open.dialog();
    vos::TextBox& edit = d.*box;
    const std::wstring shorter = edit.Text();
    const std::wstring longer = shorter + L"x";
    bool add = true;
    for (auto _ : state) {
        edit.UserSetText(add ? longer : shorter);
        add = !add;
        benchmark::DoNotOptimize(d.lstCP.Items().data());
    }
    if (d.lstCP.ListCount() != state.range(0)) state.SkipWithError("the list lost lines");
    state.SetItemsProcessed(state.iterations());
}

void BM_PathKeystroke(benchmark::State& state) { Keystrokes(state, &vos::frmConfig::txtPath); }
void BM_ParameterKeystroke(benchmark::State& state) {
    Keystrokes(state, &vos::frmConfig::txtCommand);
}

BENCHMARK(BM_PathKeystroke)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParameterKeystroke)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
