// The two ASPI entry points of the Linux SCSI generic library.
#include "sg_driver.h"

namespace {

sgaspi::Library& Instance() {
    // Never destroyed: a worker may still be in a request, and the completion
    // thread in the driver, while the process ends.
    static sgaspi::Library* const library = new sgaspi::Library({}, std::make_unique<sgaspi::SgDriver>());
    return *library;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    // Every scan asks this first: look at the machine again, so that drives
    // connected since the last scan are found.
    Instance().Refresh(sgaspi::Enumerate("/sys", "/dev"));
    return Instance().SupportInfo();
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void* request) {
    return Instance().Send(request);
}
