// ASPI for Win32 request blocks, status codes and flags.
//
// These declarations are the binary interface between the program and every
// wnaspi32 library it loads, the simulator and the pass-through backends of
// this project included. Fields keep their published names and order and use
// natural alignment (no packing pragma):
//
//  * On 32-bit targets the layout is the published one: SRB_HAInquiry 60 bytes,
//    SRB_GDEVBlock 12 bytes, SRB_ExecSCSICmd 116 bytes (with a sense area for
//    48 bytes of sense data), every offset as asserted below.
//  * On 64-bit hosts the same declarations give the native layout: the two
//    pointer fields of SRB_ExecSCSICmd (SRB_BufPointer, SRB_PostProc) are 8
//    bytes wide, so SRB_PostProc moves to offset 32, CDBByte to 60, SenseArea
//    to 76 and the block is 128 bytes long. SRB_HAInquiry and SRB_GDEVBlock
//    hold no pointers and keep their 32-bit layout. A library built for this
//    project on a 64-bit host must use exactly these declarations.
//
// SRB_PostProc carries the completion event handle. On Linux that handle is
// an eventfd descriptor cast to the pointer type; a library signals completion
// by writing the 8-byte value 1 to it.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Command codes.
enum : std::uint8_t {
    SC_HA_INQUIRY = 0x00,
    SC_GET_DEV_TYPE = 0x01,
    SC_EXEC_SCSI_CMD = 0x02,
    SC_ABORT_SRB = 0x03,
};

// Request status codes (SRB_Status and SendASPI32Command's return value).
enum : std::uint8_t {
    SS_PENDING = 0x00,
    SS_COMP = 0x01,
    SS_ABORTED = 0x02,
    SS_ABORT_FAIL = 0x03,
    SS_ERR = 0x04,
    SS_INVALID_HA = 0x81,
    SS_NO_DEVICE = 0x82,
    SS_INVALID_SRB = 0xE0,
    SS_BUFFER_ALIGN = 0xE1,
    SS_ILLEGAL_MODE = 0xE2,
    SS_BUFFER_TO_BIG = 0xE6,
};

// SRB_Flags.
enum : std::uint8_t {
    SRB_DIR_IN = 0x08,
    SRB_DIR_OUT = 0x10,
    SRB_EVENT_NOTIFY = 0x40,
};

// Host adapter status codes (SRB_HaStat).
enum : std::uint8_t {
    HASTAT_OK = 0x00,
    HASTAT_TIMEOUT = 0x09,
    HASTAT_COMMAND_TIMEOUT = 0x0B,
    HASTAT_MESSAGE_REJECT = 0x0D,
    HASTAT_BUS_RESET = 0x0E,
    HASTAT_PARITY_ERROR = 0x0F,
    HASTAT_REQUEST_SENSE_FAILED = 0x10,
    HASTAT_SEL_TO = 0x11,
    HASTAT_DO_DU = 0x12,
    HASTAT_BUS_FREE = 0x13,
    HASTAT_PHASE_ERR = 0x14,
};

// Target status bytes (SRB_TargStat).
enum : std::uint8_t {
    STATUS_GOOD = 0x00,
    STATUS_CHKCOND = 0x02,
    STATUS_BUSY = 0x08,
};

// Device types reported by SC_GET_DEV_TYPE.
enum : std::uint8_t {
    DTYPE_DASD = 0x00,
    DTYPE_SEQD = 0x01,
    DTYPE_CDROM = 0x05,
};

constexpr std::size_t kSenseLength = 48;

struct SRB_Header {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t HA_Count;
    std::uint8_t HA_SCSI_ID;
    std::uint8_t HA_ManagerId[16];
    std::uint8_t HA_Identifier[16];
    std::uint8_t HA_Unique[16];
    std::uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint8_t SRB_DeviceType;
    std::uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint16_t SRB_Rsvd1;
    std::uint32_t SRB_BufLen;
    std::uint8_t* SRB_BufPointer;
    std::uint8_t SRB_SenseLen;
    std::uint8_t SRB_CDBLen;
    std::uint8_t SRB_HaStat;
    std::uint8_t SRB_TargStat;
    void* SRB_PostProc;
    std::uint8_t SRB_Rsvd2[20];
    std::uint8_t CDBByte[16];
    std::uint8_t SenseArea[kSenseLength + 2];
};

// Asks the library to abort a request it still holds (SRB_ToAbort). The
// library answers through this block's SRB_Status; the aborted block itself
// still completes, with SS_ABORTED or its real outcome.
struct SRB_Abort {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};

// The two entry points every wnaspi32 library exports.
using GetASPI32SupportInfoFn = std::uint32_t (*)();
using SendASPI32CommandFn = std::uint32_t (*)(void* srb);

}  // extern "C"

static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(sizeof(SRB_HAInquiry) == 60);

static_assert(offsetof(SRB_GDEVBlock, SRB_Target) == 8);
static_assert(offsetof(SRB_GDEVBlock, SRB_Lun) == 9);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(sizeof(SRB_GDEVBlock) == 12);

static_assert(offsetof(SRB_Abort, SRB_ToAbort) == 8);

static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 1);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaId) == 2);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 3);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Hdr_Rsvd) == 4);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 28);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SRB_ExecSCSICmd) == 116);
static_assert(sizeof(SRB_Abort) == 12);
#else
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 32);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 60);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 76);
static_assert(sizeof(SRB_ExecSCSICmd) == 128);
static_assert(sizeof(SRB_Abort) == 16);
#endif
