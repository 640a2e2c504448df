// A worker announcing steps as fast as it can: what one update costs it on
// the model alone (it only marks the control; aim: under a microsecond), and
// with the real window (offscreen) attached, how late the window's event loop
// answers meanwhile.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "ui/qt/form_view.h"
#include "ui/window_model.h"

namespace {

using namespace tamro::ui;

void WorkerUpdateOnTheModelAlone(benchmark::State& state) {
    WindowModel model;
    model.SetChangeListener([](bool) {});
    int i = 0;
    for (auto _ : state) {
        model.SetProgress(ControlId::TBar, i++ % 1001);
        model.Repaint(ControlId::DCONF);
    }
}

BENCHMARK(WorkerUpdateOnTheModelAlone)->Unit(benchmark::kNanosecond);

void WorkerUpdatesWithTheWindowAttached(benchmark::State& state) {
    qt::FormView view;
    view.show();
    WindowModel& form = Form();
    form.Show(ControlId::connect);
    std::vector<double> latenciesMs;
    double workerNsPerUpdate = 0;
    for (auto _ : state) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            QElapsedTimer t;
            t.start();
            char text[64];
            for (int i = 0; i < 100000; ++i) {
                std::snprintf(text, sizeof text, "** Random Seek **  LBA=%8X    ", i);
                form.SetCaption(ControlId::DCONF, text);
                form.Repaint(ControlId::DCONF);
                form.SetProgress(ControlId::TBar, i % 1001);
            }
            workerNsPerUpdate = static_cast<double>(t.nsecsElapsed()) / 100000.0;
            done = true;
        });
        // The window's answer time: how long a posted event waits for the loop.
        while (!done) {
            QElapsedTimer posted;
            posted.start();
            bool answered = false;
            QTimer::singleShot(0, &view, [&] { answered = true; });
            while (!answered) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            latenciesMs.push_back(static_cast<double>(posted.nsecsElapsed()) / 1e6);
        }
        worker.join();
        view.Flush();
    }
    std::sort(latenciesMs.begin(), latenciesMs.end());
    state.counters["worker_ns_per_update"] = workerNsPerUpdate;
    state.counters["loop_latency_max_ms"] = latenciesMs.empty() ? 0 : latenciesMs.back();
    state.counters["loop_latency_median_ms"] = latenciesMs.empty() ? 0 : latenciesMs[latenciesMs.size() / 2];
    state.counters["applies"] = static_cast<double>(view.AppliedBatches());
}

BENCHMARK(WorkerUpdatesWithTheWindowAttached)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(nullptr);
    std::_Exit(0);
}
