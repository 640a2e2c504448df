#include "diagnostics/worker_end.h"

#include <chrono>
#include <string>
#include <thread>

#include "discovery/engine_observer.h"
#include "reports/drive_log.h"
#include "transport/commands.h"

namespace tamro {

void ShowAnalysisFinished(Work work) {
    PlaceBar(Bar::Total, kProgressMaximum);
    PlaceBar(Bar::Test, kProgressMaximum);
    Observer().WorkFinished(work);
}

void StopForKeptRequests() { logparts::ShowAlarm(kRequestBlocksExhaustedText); }

void ParkWorker() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

}  // namespace tamro
