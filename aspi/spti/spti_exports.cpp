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

// No exception may cross into the program: running out of memory is a
// failed request, not an ended process.
extern "C" std::uint32_t GetASPI32SupportInfo() {
    try {
        // Every scan asks this first: look at the machine again, so that
        // drives connected since the last scan are found.
        Instance().Refresh(spti::Enumerate(spti::WindowsSystem()));
        return Instance().SupportInfo();
    } catch (...) {
        return static_cast<std::uint32_t>(SS_ERR) << 8;
    }
}

extern "C" std::uint32_t SendASPI32Command(void* request) {
    try {
        return Instance().Send(request);
    } catch (...) {
        if (request != nullptr) static_cast<SRB_Header*>(request)->SRB_Status = SS_ERR;
        return SS_ERR;
    }
}
