/* Control interface of the simulated SCSI bus (libwnaspi32.so built from
 * aspi/sim). Tests link against the library and use these calls to build a
 * bus, inject faults and read back what the drives received; the program
 * itself only ever uses the two ASPI entry points.
 *
 * Every call is thread-safe. Addresses are (host adapter, target); the LUN is
 * always 0. Calls that name a target that holds no disk return -1 (or do
 * nothing). Nothing here is persistent: sim_reset_default() rebuilds the
 * built-in bus, sim_clear_bus() leaves an empty one. */
#ifndef TAMRO_SIM_CONTROL_H
#define TAMRO_SIM_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Bus building --------------------------------------------------- */

/* Rebuild the built-in default bus (also what the library starts with): seven
 * disks on two adapters and a CD-ROM, described in the README. Resets faults
 * (and puts back the bus's own bad blocks), trace, completion mode and
 * service time (default bus: SIM_DEFAULT_SERVICE_US per command). Requests
 * still held (late or never completing) are dropped and never completed. */
void sim_reset_default(void);

/* A wide bus in place of the default one, with everything else as
 * sim_reset_default leaves it: `adapters` host adapters (at most 16) of 16
 * targets each, own ID 7, each with a disk at its first `disks_per_adapter`
 * other IDs (at most 15; 0 to 6, then 8 on). Every disk is a sound maker's
 * drive (sim_disk_config_init) with serial "WIDE<ha in hex><ID>0", except
 * the very last: a SUN product with 2 grown defects, which a run judges
 * FAIL. Two adapters of fifteen: thirty disks. */
void sim_reset_wide(int adapters, int disks_per_adapter);

/* No host adapters at all; faults and trace cleared; service time 0;
 * asynchronous completion; held requests dropped as above. */
void sim_clear_bus(void);

/* Adds a host adapter and returns its number. targets_supported goes to
 * byte 3 of HA_Unique (0 is allowed, the program then scans 8); own_id is the
 * adapter's own SCSI ID, which reports no device. */
int sim_add_adapter(const char* manager_id, const char* identifier,
                    int targets_supported, int own_id);

/* The adapter answers SC_HA_INQUIRY (and every other request) with
 * SS_INVALID_HA while it is still counted by GetASPI32SupportInfo. */
void sim_set_adapter_invalid(int ha, int invalid);

/* A non-disk device (DTYPE_CDROM 5, DTYPE_SEQD 1, ...) at ha/target. It
 * answers INQUIRY and TEST UNIT READY only. */
int sim_add_device(int ha, int target, int device_type);

/* Vendor classes of built disks: what the INQUIRY data is made to look like. */
enum {
    SIM_VENDOR_HALCYON = 0, /* "HALCYON " vendor                          */
    SIM_VENDOR_SUN = 1,     /* "HALCYON " vendor, "SUN" at product 9-11    */
    SIM_VENDOR_COMPAQ = 2,  /* "COMPAQ  " vendor                           */
    SIM_VENDOR_EMC = 3,     /* "HALCYON " vendor, "EMC" at bytes 67-69     */
    SIM_VENDOR_UNISYS = 4,  /* "UNISYS  " vendor                           */
    SIM_VENDOR_HP = 5,      /* "HP      " vendor                           */
    SIM_VENDOR_OTHER = 6    /* "OTHERCO " vendor, not a maker's drive      */
};

typedef struct SimDiskConfig {
    int vendor;                 /* SIM_VENDOR_*                                */
    const char* product;        /* bytes 16-31, padded; NULL: the class's own  */
    const char* revision;       /* bytes 32-35 (HP: 28-31); NULL: the class's  */
    const char* serial;         /* 8 chars max (GetSer data bytes 4-11)        */
    uint32_t last_lba;          /* READ CAPACITY bytes 0-3                     */
    uint32_t block_size;        /* READ CAPACITY bytes 4-7                     */
    int log_generation;         /* 1..4: GetLog bytes 6-7 and layout            */
    int log_readable;           /* 0: GetLog(10) ends in CHECK CONDITION       */
    int log_signature;          /* 0: no 'S' at the layout's signature byte    */
    int heads;                  /* GetHsp head count (stored as heads - 1)     */
    uint32_t primary_defects;   /* READ DEFECT DATA list length = count * 8    */
    uint32_t grown_defects;
    int start_unit_fails;       /* START STOP UNIT (start) ends in 4/44h      */
} SimDiskConfig;

/* Fills *cfg with a healthy maker's drive: vendor HALCYON, serial "SIM00000",
 * 1 000 000 blocks of 512 bytes, log generation 4 with signature, 4 heads,
 * 100 primary and 0 grown defects. */
void sim_disk_config_init(SimDiskConfig* cfg);

/* Adds a disk (device type 0) at ha/target; returns 0, or -1 if the adapter
 * does not exist or the target is taken. */
int sim_add_disk(int ha, int target, const SimDiskConfig* cfg);

/* Replace the INQUIRY data (up to 96 bytes; byte 4 is not recomputed). */
int sim_disk_set_inquiry(int ha, int target, const uint8_t* data, size_t len);

/* Direct access to the disk's 32 768-byte GetLog(10) data and its 30-byte
 * GetHsp(10) data, for tests to read or edit. NULL if no disk. The pointers
 * stay valid until the bus is rebuilt. */
uint8_t* sim_disk_log_data(int ha, int target);
uint8_t* sim_disk_hsp_data(int ha, int target);

/* Writes error-log entry `index` (0-based) of the disk's GetLog data at the
 * offset of its log generation: two little-endian time stamps then 48 bytes
 * of fixed-format sense. Returns -1 past the generation's entry count. */
int sim_disk_set_log_entry(int ha, int target, int index, uint32_t stamp1,
                           uint32_t stamp2, const uint8_t* sense48);

/* Current value of mode page 01h, 07h or 08h, from the page code byte on
 * (12, 12 and 20 bytes), as MODE SENSE reports it (PS bit set in byte 0).
 * Returns the page length copied, or -1. */
int sim_disk_mode_page(int ha, int target, int page, uint8_t* out, size_t len);

/* 1 while factory mode is on. */
int sim_disk_factory_mode(int ha, int target);

/* 1 while the disk is spinning (START STOP UNIT). A disk made with
 * start_unit_fails comes up stopped; a stopped disk answers TEST UNIT READY,
 * READ CAPACITY, REZERO, SEEK, READ, WRITE, VERIFY and Write Special with
 * NOT READY (2/04h/02h). */
int sim_disk_started(int ha, int target);

/* The data READ(10) returns for `len` bytes starting at block lba: each
 * block begins with its LBA big-endian. */
void sim_read_pattern(uint32_t lba, uint32_t block_size, uint8_t* out, size_t len);

/* Microcode received through WRITE BUFFER mode 05h, chunk by chunk in the
 * order received, also the chunks of an image the drive refused. A drive
 * takes only an image made for its family (sim_microcode.h). */
int sim_disk_download_chunk_count(int ha, int target);
int sim_disk_download_chunk(int ha, int target, int index, uint32_t* offset,
                            uint32_t* length);
/* The image reassembled from every chunk at its offset; returns its length
 * (highest offset + length), copying at most max bytes into out. */
size_t sim_disk_download_image(int ha, int target, uint8_t* out, size_t max);

/* ---- Timing and completion ------------------------------------------ */

#define SIM_DEFAULT_SERVICE_US 100u

/* Time each command takes on the simulated drive, in microseconds; a
 * request takes the value set when it is sent. Each target (adapter and ID)
 * serves its requests one at a time in the order sent, from a thread of its
 * own; targets are served side by side, so a request waits for the earlier
 * ones to its own target only, never for another target's. */
void sim_set_service_time_us(unsigned us);

enum {
    SIM_COMPLETE_ASYNC = 0,    /* SS_PENDING, completion from the target's   */
                               /* thread                                     */
    SIM_COMPLETE_IMMEDIATE = 1 /* done inside SendASPI32Command, no event    */
                               /* (a late request still completes later,     */
                               /* from the target's thread, with its event)  */
};
void sim_set_completion(int mode);

/* A request that completes late completes when it is due, or when a test
 * says: with this lateness (complete_after_ms, completes_again_ms) only
 * sim_release_late completes it. */
#define SIM_LATE_UNTIL_RELEASED 0xFFFFFFFFu

/* The late request to ha/target held longest (with CDB byte 0 opcode; -1:
 * any) completes now, on the calling thread, as it would have when due:
 * status, sense and data into its block, then its event. A stray completion
 * still to come (completes_again_ms) counts; a request that never completes
 * does not. Returns 1 once it has completed, 0 if the bus holds none such. */
int sim_release_late(int ha, int target, int opcode);

/* Requests to ha/target that the bus holds and has not completed: late
 * ones, stray completions still to come, and those that never complete
 * (until aborted, or the bus is rebuilt). */
int sim_held_requests(int ha, int target);

/* GetASPI32SupportInfo reports this status in bits 8-15 (default SS_COMP). */
void sim_set_support_status(int status);

/* ---- Fault injection ------------------------------------------------- */

/* Sense data for every READ(10), WRITE(10) and VERIFY(10) that touches an LBA
 * in [first, last] (opcode 0: those three; else only that operation code).
 * INFORMATION holds the first failing LBA of the command with VALID set,
 * unless info_valid is 0. times: how many commands fail (0: every one). */
typedef struct SimMediaFault {
    uint32_t first_lba, last_lba;
    uint8_t opcode;
    uint8_t sense_key, asc, ascq;
    int info_valid;
    unsigned times;
} SimMediaFault;
void sim_media_fault_init(SimMediaFault* f); /* key 3, ASC 11h, valid, forever */
int sim_add_media_fault(int ha, int target, const SimMediaFault* f);

/* A fault on a command by operation code (or every command, opcode -1).
 * The first `skip` matching commands pass; the next `times` (0: all later)
 * fail as described. Fields left at -1 by sim_fault_init keep the normal
 * outcome. A failing command is not carried out unless `execute` is 1. */
typedef struct SimFault {
    int opcode;           /* CDB byte 0, or -1 for any command              */
    unsigned skip;        /* matching commands let through first            */
    unsigned times;       /* commands that fail; 0 = every later match       */
    int ha_stat;          /* SRB_HaStat to report                           */
    int srb_status;       /* SRB_Status to report                           */
    int targ_stat;        /* SRB_TargStat to report (CHECK CONDITION when a  */
                          /* sense key is given and this is -1)             */
    int sense_key;        /* fixed-format sense with this key               */
    uint8_t asc, ascq;
    uint8_t sense_byte2_flags; /* ORed into sense byte 2 (e.g. 20h ILI)     */
    int info_valid;
    uint32_t info;
    int never_complete;   /* SS_PENDING forever: no completion, no signal   */
    int execute;          /* carry the command out before reporting         */
    unsigned complete_after_ms; /* carried out, but status, sense and data  */
                          /* reach the block only this long after it was    */
                          /* sent, from the target's thread, which then     */
                          /* sets the event; 0: complete as usual           */
    int abort_fails;      /* SC_ABORT_SRB for this request answers          */
                          /* SS_ABORT_FAIL and leaves it running            */
    unsigned completes_again_ms; /* with complete_after_ms or never_complete:*/
                          /* after a successful SC_ABORT_SRB the request    */
                          /* completes all the same this long later, into   */
                          /* the block and buffer it was sent with, event   */
                          /* set (a library that breaks its word)           */
    unsigned signal_first_us; /* the event is set this long before status, */
                          /* sense and data reach the block                 */
} SimFault;
void sim_fault_init(SimFault* f);
int sim_add_fault(int ha, int target, const SimFault* f);

/* SC_ABORT_SRB (SRB_Abort): a request the bus still holds (one made late
 * by complete_after_ms, or one that never completes) ends at once with
 * SS_ABORTED in its block and its event set, and the abort answers SS_COMP;
 * with abort_fails it answers SS_ABORT_FAIL and the request goes on. A block
 * the bus does not hold (finished, or never sent) gets SS_ABORT_FAIL too. */

/* The next n commands to the disk end in CHECK CONDITION, UNIT ATTENTION,
 * ASC 29h (power on, reset or bus device reset occurred). */
int sim_unit_attention(int ha, int target, unsigned n);

/* Drops every injected fault on every disk, the default bus's bad blocks
 * included. */
void sim_clear_faults(void);

/* ---- Trace ------------------------------------------------------------ */

typedef struct SimTraceEntry {
    uint8_t ha, target, lun;
    uint8_t flags;        /* SRB_Flags as received                          */
    uint8_t cdb_len;
    uint8_t sense_len;
    uint8_t cdb[16];
    uint32_t buf_len;
    const void* buf;      /* SRB_BufPointer as received                     */
    const void* post_proc;/* SRB_PostProc as received                       */
} SimTraceEntry;

/* Every SC_EXEC_SCSI_CMD request received, in order (also those to targets
 * without a device and those that fail by injection). */
size_t sim_trace_count(void);
int sim_trace_get(size_t index, SimTraceEntry* out);
void sim_trace_clear(void);
/* The trace keeps the latest 262 144 requests; this many older ones were
 * dropped since the last clear (index 0 is then the oldest kept). */
size_t sim_trace_dropped(void);

#ifdef __cplusplus
}
#endif

#endif
