// The SCSI generic library as it was before requests could finish on the
// caller's thread: every request crosses to its completion thread. Built for
// the guest's benchmark only, to measure what the hand-over costs next to the
// shipped library in the same boot; never installed.
#include "sg_driver.h"

namespace {

sgaspi::Library& Instance() {
    static sgaspi::Library* const library =
        new sgaspi::Library({}, std::make_unique<sgaspi::SgDriver>(sgaspi::OpenSgNode, std::chrono::microseconds(0)));
    return *library;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    Instance().Refresh(sgaspi::Enumerate("/sys", "/dev"));
    return Instance().SupportInfo();
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void* request) {
    return Instance().Send(request);
}
