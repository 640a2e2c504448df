// A wnaspi32 stand-in whose one host adapter has nothing on its bus: what
// the program meets when no drive can be reached.
#include <cstdint>
#include <cstring>

#include "fake_export.h"
#include "transport/srb.h"

extern "C" FAKE_ASPI_EXPORT std::uint32_t GetASPI32SupportInfo() { return std::uint32_t{SS_COMP} << 8 | 1; }

extern "C" FAKE_ASPI_EXPORT std::uint32_t SendASPI32Command(void* block) {
    auto* header = static_cast<SRB_Header*>(block);
    if (header->SRB_HaId != 0) return header->SRB_Status = SS_INVALID_HA;
    if (header->SRB_Cmd == SC_HA_INQUIRY) {
        auto* inquiry = static_cast<SRB_HAInquiry*>(block);
        inquiry->HA_Count = 1;
        inquiry->HA_SCSI_ID = 7;
        std::memcpy(inquiry->HA_ManagerId, "EMPTY BUS       ", 16);
        return inquiry->SRB_Status = SS_COMP;
    }
    return header->SRB_Status = SS_NO_DEVICE;
}
