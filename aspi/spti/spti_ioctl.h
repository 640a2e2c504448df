// The few structures and control codes of the Windows SCSI pass-through
// interface that the library uses, as the Windows driver kit documents them.
//
// Declared here for every platform, Windows included, so that the stand-in
// tests on Linux and under Wine exercise exactly the bytes the library hands
// to DeviceIoControl; the Windows build checks each size, offset and code
// against the MinGW <ntddscsi.h> (spti_win32.cpp). ULONG is 32 bits on Windows
// whatever the pointer width, hence std::uint32_t; natural alignment, no
// packing, as in the kit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace spti {

// CTL_CODE(FILE_DEVICE_CONTROLLER, function, METHOD_BUFFERED, access).
constexpr std::uint32_t ControlCode(std::uint32_t function, std::uint32_t access) {
    return 0x0004u << 16 | access << 14 | function << 2;
}
constexpr std::uint32_t kAnyAccess = 0, kReadWriteAccess = 3;

constexpr std::uint32_t kIoctlGetInquiryData = ControlCode(0x403, kAnyAccess);      // 0004100Ch
constexpr std::uint32_t kIoctlGetCapabilities = ControlCode(0x404, kAnyAccess);     // 00041010h
constexpr std::uint32_t kIoctlPassThroughDirect = ControlCode(0x405, kReadWriteAccess);  // 0004D014h
constexpr std::uint32_t kIoctlGetAddress = ControlCode(0x406, kAnyAccess);          // 00041018h

// DataIn of the pass-through request.
enum : std::uint8_t { kDataOut = 0, kDataIn = 1, kDataUnspecified = 2 };

// SCSI_PASS_THROUGH_DIRECT: the data buffer stays in the caller's memory;
// the sense buffer lies SenseInfoOffset bytes after the start of this block.
struct PassThroughDirect {
    std::uint16_t Length;
    std::uint8_t ScsiStatus;
    std::uint8_t PathId;
    std::uint8_t TargetId;
    std::uint8_t Lun;
    std::uint8_t CdbLength;
    std::uint8_t SenseInfoLength;
    std::uint8_t DataIn;
    std::uint32_t DataTransferLength;
    std::uint32_t TimeOutValue;  // seconds
    void* DataBuffer;
    std::uint32_t SenseInfoOffset;
    std::uint8_t Cdb[16];
};

// SCSI_BUS_DATA and SCSI_ADAPTER_BUS_INFO: the answer to the inquiry-data
// control starts with the bus count and one entry per bus.
struct Bus {
    std::uint8_t NumberOfLogicalUnits;
    std::uint8_t InitiatorBusId;
    std::uint32_t InquiryDataOffset;  // first unit of this bus, 0 when none
};

struct AdapterBusInfo {
    std::uint8_t NumberOfBuses;
    Bus BusData[1];
};

// SCSI_INQUIRY_DATA: one logical unit, chained by NextInquiryDataOffset (0
// ends the chain); offsets count from the start of the answer.
struct InquiryData {
    std::uint8_t PathId;
    std::uint8_t TargetId;
    std::uint8_t Lun;
    std::uint8_t DeviceClaimed;  // a class driver owns the unit
    std::uint32_t InquiryDataLength;
    std::uint32_t NextInquiryDataOffset;
    std::uint8_t InquiryData[1];
};

// SCSI_ADDRESS: where a class driver's device sits.
struct Address {
    std::uint32_t Length;
    std::uint8_t PortNumber;
    std::uint8_t PathId;
    std::uint8_t TargetId;
    std::uint8_t Lun;
};

// IO_SCSI_CAPABILITIES.
struct Capabilities {
    std::uint32_t Length;
    std::uint32_t MaximumTransferLength;
    std::uint32_t MaximumPhysicalPages;
    std::uint32_t SupportedAsynchronousEvents;
    std::uint32_t AlignmentMask;
    std::uint8_t TaggedQueuing;
    std::uint8_t AdapterScansDown;
    std::uint8_t AdapterUsesPio;
};

}  // namespace spti

static_assert(spti::kIoctlGetInquiryData == 0x0004100C);
static_assert(spti::kIoctlGetCapabilities == 0x00041010);
static_assert(spti::kIoctlPassThroughDirect == 0x0004D014);
static_assert(spti::kIoctlGetAddress == 0x00041018);

static_assert(offsetof(spti::PassThroughDirect, ScsiStatus) == 2);
static_assert(offsetof(spti::PassThroughDirect, TargetId) == 4);
static_assert(offsetof(spti::PassThroughDirect, DataIn) == 8);
static_assert(offsetof(spti::PassThroughDirect, DataTransferLength) == 12);
static_assert(offsetof(spti::PassThroughDirect, TimeOutValue) == 16);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(spti::PassThroughDirect, DataBuffer) == 20);
static_assert(offsetof(spti::PassThroughDirect, SenseInfoOffset) == 24);
static_assert(offsetof(spti::PassThroughDirect, Cdb) == 28);
static_assert(sizeof(spti::PassThroughDirect) == 44);
#else
// The 64-bit layout: the pointer is 8-aligned, moving everything after it.
static_assert(offsetof(spti::PassThroughDirect, DataBuffer) == 24);
static_assert(offsetof(spti::PassThroughDirect, SenseInfoOffset) == 32);
static_assert(offsetof(spti::PassThroughDirect, Cdb) == 36);
static_assert(sizeof(spti::PassThroughDirect) == 56);
#endif

static_assert(offsetof(spti::Bus, InquiryDataOffset) == 4 && sizeof(spti::Bus) == 8);
static_assert(offsetof(spti::AdapterBusInfo, BusData) == 4 && sizeof(spti::AdapterBusInfo) == 12);
static_assert(offsetof(spti::InquiryData, InquiryDataLength) == 4);
static_assert(offsetof(spti::InquiryData, NextInquiryDataOffset) == 8);
static_assert(offsetof(spti::InquiryData, InquiryData) == 12 && sizeof(spti::InquiryData) == 16);
static_assert(offsetof(spti::Address, PortNumber) == 4 && sizeof(spti::Address) == 8);
static_assert(offsetof(spti::Capabilities, AlignmentMask) == 16 && sizeof(spti::Capabilities) == 24);
