// The only file of the library that calls Windows.
#include "spti_win32.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>

// The library's own declarations (spti_ioctl.h) are the kit's.
static_assert(spti::kIoctlGetInquiryData == IOCTL_SCSI_GET_INQUIRY_DATA);
static_assert(spti::kIoctlGetCapabilities == IOCTL_SCSI_GET_CAPABILITIES);
static_assert(spti::kIoctlPassThroughDirect == IOCTL_SCSI_PASS_THROUGH_DIRECT);
static_assert(spti::kIoctlGetAddress == IOCTL_SCSI_GET_ADDRESS);
static_assert(spti::kDataIn == SCSI_IOCTL_DATA_IN && spti::kDataOut == SCSI_IOCTL_DATA_OUT &&
              spti::kDataUnspecified == SCSI_IOCTL_DATA_UNSPECIFIED);

#define SAME_FIELD(ours, theirs, field) static_assert(offsetof(ours, field) == offsetof(theirs, field))
static_assert(sizeof(spti::PassThroughDirect) == sizeof(SCSI_PASS_THROUGH_DIRECT));
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, ScsiStatus);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, PathId);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, TargetId);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, Lun);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, CdbLength);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, SenseInfoLength);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, DataIn);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, DataTransferLength);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, TimeOutValue);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, DataBuffer);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset);
SAME_FIELD(spti::PassThroughDirect, SCSI_PASS_THROUGH_DIRECT, Cdb);
static_assert(sizeof(spti::Bus) == sizeof(SCSI_BUS_DATA));
SAME_FIELD(spti::Bus, SCSI_BUS_DATA, InitiatorBusId);
SAME_FIELD(spti::Bus, SCSI_BUS_DATA, InquiryDataOffset);
SAME_FIELD(spti::AdapterBusInfo, SCSI_ADAPTER_BUS_INFO, BusData);
static_assert(sizeof(spti::InquiryData) == sizeof(SCSI_INQUIRY_DATA));
SAME_FIELD(spti::InquiryData, SCSI_INQUIRY_DATA, TargetId);
SAME_FIELD(spti::InquiryData, SCSI_INQUIRY_DATA, Lun);
SAME_FIELD(spti::InquiryData, SCSI_INQUIRY_DATA, DeviceClaimed);
SAME_FIELD(spti::InquiryData, SCSI_INQUIRY_DATA, InquiryDataLength);
SAME_FIELD(spti::InquiryData, SCSI_INQUIRY_DATA, NextInquiryDataOffset);
SAME_FIELD(spti::InquiryData, SCSI_INQUIRY_DATA, InquiryData);
static_assert(sizeof(spti::Address) == sizeof(SCSI_ADDRESS));
SAME_FIELD(spti::Address, SCSI_ADDRESS, PortNumber);
SAME_FIELD(spti::Address, SCSI_ADDRESS, PathId);
SAME_FIELD(spti::Address, SCSI_ADDRESS, TargetId);
SAME_FIELD(spti::Address, SCSI_ADDRESS, Lun);
static_assert(sizeof(spti::Capabilities) == sizeof(IO_SCSI_CAPABILITIES));
SAME_FIELD(spti::Capabilities, IO_SCSI_CAPABILITIES, MaximumTransferLength);
SAME_FIELD(spti::Capabilities, IO_SCSI_CAPABILITIES, AlignmentMask);
#undef SAME_FIELD

static_assert(spti::kErrorAccessDenied == ERROR_ACCESS_DENIED && spti::kErrorFileNotFound == ERROR_FILE_NOT_FOUND &&
              spti::kErrorPathNotFound == ERROR_PATH_NOT_FOUND && spti::kErrorInvalidFunction == ERROR_INVALID_FUNCTION &&
              spti::kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY && spti::kErrorOutOfMemory == ERROR_OUTOFMEMORY &&
              spti::kErrorDevNotExist == ERROR_DEV_NOT_EXIST && spti::kErrorInvalidParameter == ERROR_INVALID_PARAMETER &&
              spti::kErrorSemTimeout == ERROR_SEM_TIMEOUT &&
              spti::kErrorNoAccess == ERROR_NOACCESS && spti::kErrorBusReset == ERROR_BUS_RESET &&
              spti::kErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED &&
              spti::kErrorPrivilegeNotHeld == ERROR_PRIVILEGE_NOT_HELD &&
              spti::kErrorNoSystemResources == ERROR_NO_SYSTEM_RESOURCES && spti::kErrorTimeout == ERROR_TIMEOUT);

namespace spti {

namespace {

std::uint32_t LastError() {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;  // a failure is never reported as success
}

class Win32System : public System {
public:
    std::uint32_t Open(const std::string& path, Access access, Handle* handle) override {
        const DWORD rights = access == Access::ReadWrite ? GENERIC_READ | GENERIC_WRITE : 0;
        const HANDLE h = CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return LastError();
        *handle = h;
        return 0;
    }

    std::uint32_t Control(Handle handle, std::uint32_t code, void* in, std::uint32_t inLength, void* out,
                          std::uint32_t outLength, std::uint32_t* returned) override {
        DWORD got = 0;
        const BOOL ok = DeviceIoControl(handle, code, in, inLength, out, outLength, &got, nullptr);
        *returned = got;
        return ok ? 0 : LastError();
    }

    void Close(Handle handle) override { CloseHandle(handle); }

    std::string PortDriver(int port) override {
        const std::string key = "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(port);
        HKEY opened = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return {};
        char name[64] = {};
        DWORD size = sizeof name - 1, type = 0;
        const LONG result = RegQueryValueExA(opened, "Driver", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
        RegCloseKey(opened);
        if (result != ERROR_SUCCESS || type != REG_SZ) return {};
        return name;
    }
};

}  // namespace

System& WindowsSystem() {
    static Win32System system;
    return system;
}

}  // namespace spti
