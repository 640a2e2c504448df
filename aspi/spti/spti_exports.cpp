// The two ASPI entry points of the Windows SCSI pass-through library.
#include "spti_backend.h"
#include "spti_win32.h"

namespace {

spti::Library& Instance() {
    // Never destroyed: a worker may still be in a request while the process ends.
    static spti::Library* const library = new spti::Library({}, spti::WindowsSystem());
    return *library;
}

}  // namespace

extern "C" std::uint32_t GetASPI32SupportInfo() {
    // Every scan asks this first: look at the machine again, so that drives
    // connected since the last scan are found.
    Instance().Refresh(spti::Enumerate(spti::WindowsSystem()));
    return Instance().SupportInfo();
}

extern "C" std::uint32_t SendASPI32Command(void* request) { return Instance().Send(request); }
