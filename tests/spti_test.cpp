// The Windows SCSI pass-through library against a stand-in for Windows:
// enumeration of ports and disks, the pass-through requests it builds, and
// what each outcome leaves in the request block. On Linux also against the
// SCSI generic library, whose outcomes it must share; on Windows the built
// library itself.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>
#include <set>
#include <thread>

#include "spti_backend.h"

#ifdef __linux__
#include "sg_backend.h"
#endif
#ifdef _WIN32
#include <windows.h>
#endif

namespace spti {
namespace {

struct FakeUnit {
    std::uint8_t path, target, lun, peripheral;
};

// An inquiry-data answer as the port driver lays it out: the bus table, then
// one 48-byte entry per unit (36 bytes of inquiry data), each bus's entries
// chained.
std::vector<std::uint8_t> InquiryAnswer(std::uint8_t initiator, const std::vector<FakeUnit>& units) {
    std::uint8_t buses = 1;
    for (const FakeUnit& u : units) buses = std::max<std::uint8_t>(buses, u.path + 1);
    constexpr std::size_t kEntry = 48;
    const std::size_t table = offsetof(AdapterBusInfo, BusData) + buses * sizeof(Bus);
    std::vector<std::uint8_t> answer(table + units.size() * kEntry);
    answer[0] = buses;
    std::size_t at = table;
    for (std::uint8_t b = 0; b < buses; ++b) {
        auto* bus = reinterpret_cast<Bus*>(answer.data() + offsetof(AdapterBusInfo, BusData)) + b;
        bus->InitiatorBusId = initiator;
        std::uint32_t* link = &bus->InquiryDataOffset;
        for (const FakeUnit& u : units) {
            if (u.path != b) continue;
            *link = static_cast<std::uint32_t>(at);
            auto* entry = reinterpret_cast<InquiryData*>(answer.data() + at);
            *entry = InquiryData{u.path, u.target, u.lun, 1, 36, 0, {u.peripheral}};
            link = &entry->NextInquiryDataOffset;
            ++bus->NumberOfLogicalUnits;
            at += kEntry;
        }
    }
    return answer;
}

class FakeWindows : public System {
public:
    struct Port {
        std::vector<std::uint8_t> inquiry;
        std::string driver;
        std::uint32_t alignmentMask = 0, maximumTransfer = 0;
    };

    std::map<int, Port> ports;
    std::map<int, Address> disks;
    std::map<std::string, std::uint32_t> openErrors;  // for read-write opens
    // Answers a pass-through; the stand-in has already recorded it.
    std::function<std::uint32_t(PassThroughDirect&, std::uint8_t* sense)> answer;

    PassThroughDirect seen{};
    std::string seenDevice;
    std::vector<std::uint8_t> seenData;
    std::vector<std::string> readWriteOpens;
    int live = 0;

    std::uint32_t Open(const std::string& path, Access access, Handle* handle) override {
        if (access == Access::ReadWrite) {
            readWriteOpens.push_back(path);
            if (openErrors.count(path)) return openErrors[path];
        }
        bool known = false;
        for (const auto& [n, port] : ports) known |= path == PortPath(n);
        for (const auto& [n, disk] : disks) known |= path == DiskPath(n);
        if (!known) return kErrorFileNotFound;
        paths_.push_back(path);
        *handle = reinterpret_cast<Handle>(paths_.size());
        ++live;
        return 0;
    }

    std::uint32_t Control(Handle handle, std::uint32_t code, void* in, std::uint32_t inLength, void* out,
                          std::uint32_t outLength, std::uint32_t* returned) override {
        const std::string& path = paths_.at(reinterpret_cast<std::size_t>(handle) - 1);
        const Port* port = nullptr;
        for (const auto& [n, p] : ports)
            if (path == PortPath(n)) port = &p;
        if (code == kIoctlGetInquiryData && port != nullptr) {
            if (port->inquiry.empty() || port->inquiry.size() > outLength) return kErrorInvalidFunction;
            std::memcpy(out, port->inquiry.data(), *returned = static_cast<std::uint32_t>(port->inquiry.size()));
            return 0;
        }
        if (code == kIoctlGetCapabilities && port != nullptr) {
            Capabilities caps{sizeof caps, port->maximumTransfer, 17, 0, port->alignmentMask, 0, 0, 0};
            std::memcpy(out, &caps, *returned = sizeof caps);
            return outLength >= sizeof caps ? 0u : std::uint32_t{kErrorInvalidParameter};
        }
        for (const auto& [n, disk] : disks) {
            if (code == kIoctlGetAddress && path == DiskPath(n) && outLength >= sizeof disk) {
                std::memcpy(out, &disk, *returned = sizeof disk);
                return 0;
            }
        }
        if (code != kIoctlPassThroughDirect) return kErrorInvalidFunction;
        EXPECT_EQ(in, out);
        EXPECT_EQ(inLength, outLength);
        auto& sptd = *static_cast<PassThroughDirect*>(in);
        EXPECT_EQ(sptd.Length, sizeof sptd);
        EXPECT_LE(sptd.SenseInfoOffset + sptd.SenseInfoLength, inLength);
        EXPECT_GE(sptd.SenseInfoOffset, sizeof sptd);
        seen = sptd;
        seenDevice = path;
        const auto* data = static_cast<const std::uint8_t*>(sptd.DataBuffer);
        seenData.assign(data, data + (sptd.DataIn == kDataOut ? sptd.DataTransferLength : 0));
        *returned = inLength;
        return answer ? answer(sptd, static_cast<std::uint8_t*>(in) + sptd.SenseInfoOffset) : 0;
    }

    void Close(Handle) override { --live; }

    std::string PortDriver(int port) override { return ports.count(port) ? ports[port].driver : ""; }

private:
    std::vector<std::string> paths_;
};

TEST(Enumeration, PortsWithGapsAndTheDisksOfTheClassDriver) {
    FakeWindows windows;
    windows.ports[0] = {InquiryAnswer(7, {{0, 0, 0, 0x00},
                                          {0, 3, 0, 0x05},     // a CD-ROM
                                          {0, 3, 1, 0x00},     // LUN 1: not reachable through ASPI
                                          {1, 6, 0, 0x00},     // second path: not reachable either
                                          {0, 9, 0, 0x7F}}),   // qualifier 3: nothing there
                        "storahci", 0x3, 0x20000};
    windows.ports[2] = {InquiryAnswer(15, {{0, 12, 0, 0x00}}), "", 0, 0};
    windows.ports[5] = {{}, "usbstor", 0, 0};  // no inquiry data from this port
    windows.disks[1] = Address{8, 0, 0, 0, 0};
    windows.disks[4] = Address{8, 5, 0, 20, 0};
    windows.disks[6] = Address{8, 7, 0, 2, 0};  // its port has no device of its own
    windows.disks[7] = Address{8, 2, 1, 0, 0};  // second path

    const std::vector<Adapter> adapters = Enumerate(windows);
    EXPECT_EQ(windows.live, 0);
    std::vector<int> ports;
    for (const Adapter& a : adapters) ports.push_back(a.port);
    ASSERT_EQ(ports, (std::vector<int>{0, 2, 5, 7}));

    const Adapter& first = adapters[0];
    ASSERT_EQ(first.targets.size(), 2u);
    EXPECT_EQ(first.targets.at(0).device, DiskPath(1));  // claimed: through the class driver
    EXPECT_EQ(first.targets.at(3).device, PortPath(0));
    EXPECT_EQ(first.targets.at(3).type, DTYPE_CDROM);
    EXPECT_EQ(first.targetsSupported, 8);
    EXPECT_EQ(first.alignmentMask, 3u);
    EXPECT_EQ(first.maximumTransfer, 0x20000u);

    EXPECT_EQ(adapters[1].targetsSupported, 13);
    EXPECT_EQ(adapters[1].initiatorId, 15);
    EXPECT_EQ(adapters[2].targets.at(20).device, DiskPath(4));
    EXPECT_EQ(adapters[2].targetsSupported, 16);
    EXPECT_EQ(adapters[3].targets.at(2).type, DTYPE_DASD);

    Library library(adapters, windows);
    EXPECT_EQ(library.SupportInfo(), 0x0104u);
    SRB_HAInquiry ha{};
    EXPECT_EQ(library.Send(&ha), SS_COMP);
    EXPECT_EQ(ha.HA_Count, 4);
    EXPECT_EQ(ha.HA_SCSI_ID, 7);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ha.HA_ManagerId), 16), "WIN SPTI ASPI   ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ha.HA_Identifier), 16), "storahci        ");
    EXPECT_EQ(ha.HA_Unique[3], 8);
    ha.SRB_HaId = 1;
    library.Send(&ha);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ha.HA_Identifier), 4), "scsi");
    EXPECT_EQ(ha.HA_Unique[3], 13);
    ha.SRB_HaId = 4;
    EXPECT_EQ(library.Send(&ha), SS_INVALID_HA);

    SRB_GDEVBlock dev{};
    dev.SRB_Cmd = SC_GET_DEV_TYPE;
    dev.SRB_Target = 3;
    EXPECT_EQ(library.Send(&dev), SS_COMP);
    EXPECT_EQ(dev.SRB_DeviceType, DTYPE_CDROM);
    dev.SRB_Target = 9;
    EXPECT_EQ(library.Send(&dev), SS_NO_DEVICE);
    dev.SRB_Target = 0;
    dev.SRB_Lun = 1;
    EXPECT_EQ(library.Send(&dev), SS_NO_DEVICE);
}

TEST(Enumeration, NoPortsMeansNoAdapters) {
    FakeWindows windows;
    EXPECT_TRUE(Enumerate(windows).empty());
}

// The answer comes from a driver: a short or looping one must not be read
// beyond what was returned, nor for ever.
TEST(Enumeration, MalformedInquiryData) {
    std::vector<std::uint8_t> answer = InquiryAnswer(7, {{0, 1, 0, 0}, {0, 2, 0, 0}});
    std::uint8_t initiator = 0;
    EXPECT_EQ(ParseInquiryData(answer.data(), answer.size(), &initiator).size(), 2u);
    EXPECT_EQ(initiator, 7);
    for (std::size_t cut = 0; cut < answer.size(); ++cut) {
        std::vector<std::uint8_t> shortAnswer(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_LE(ParseInquiryData(shortAnswer.data(), cut, &initiator).size(), 2u) << cut;
    }
    // The second unit links back to the first: the walk ends all the same.
    const std::uint32_t first = 4 + sizeof(Bus);
    std::memcpy(answer.data() + first + 48 + offsetof(InquiryData, NextInquiryDataOffset), &first, 4);
    answer[0] = 200;  // and more buses than the answer holds
    std::set<int> targets;
    for (const Unit& u : ParseInquiryData(answer.data(), answer.size(), &initiator)) targets.insert(u.target);
    EXPECT_EQ(targets, (std::set<int>{1, 2}));
}

class Requests : public ::testing::Test {
protected:
    // Port 1 with a claimed disk at ID 1 (PhysicalDrive0) and a tape at ID 4.
    static FakeWindows Machine() {
        FakeWindows windows;
        windows.ports[1] = {InquiryAnswer(7, {{0, 1, 0, 0}, {0, 4, 0, 1}}), "fake", 0, 65536};
        windows.disks[0] = Address{8, 1, 0, 1, 0};
        return windows;
    }

    static SRB_ExecSCSICmd Block(std::uint8_t flags, std::uint32_t length, std::uint8_t* buffer, std::uint8_t op) {
        SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_Flags = flags;
        srb.SRB_Target = 1;
        srb.SRB_BufLen = length;
        srb.SRB_BufPointer = buffer;
        srb.SRB_SenseLen = 48;
        srb.SRB_CDBLen = 10;
        srb.CDBByte[0] = op;
        srb.CDBByte[8] = 16;
        return srb;
    }

    FakeWindows windows = Machine();
    Library library{Enumerate(windows), windows};
    alignas(16) std::uint8_t buffer[70000] = {};
};

TEST_F(Requests, DirectionLengthsAndTimeOuts) {
    SRB_ExecSCSICmd read = Block(0x48, 8192, buffer, 0x28);
    EXPECT_EQ(library.Send(&read), SS_COMP);
    EXPECT_EQ(windows.seenDevice, DiskPath(0));
    EXPECT_EQ(windows.seen.DataIn, kDataIn);
    EXPECT_EQ(windows.seen.DataTransferLength, 8192u);
    EXPECT_EQ(windows.seen.DataBuffer, buffer);
    EXPECT_EQ(windows.seen.CdbLength, 10);
    EXPECT_EQ(windows.seen.Cdb[0], 0x28);
    EXPECT_EQ(windows.seen.Cdb[8], 16);
    EXPECT_EQ(windows.seen.Cdb[10], 0);
    EXPECT_EQ(windows.seen.SenseInfoLength, 48);
    EXPECT_EQ(windows.seen.PathId, 0);
    EXPECT_EQ(windows.seen.TargetId, 1);
    EXPECT_EQ(windows.seen.Lun, 0);
    EXPECT_EQ(windows.seen.TimeOutValue, 10u);
    EXPECT_EQ(read.SRB_HaStat, 0);
    EXPECT_EQ(read.SRB_TargStat, 0);

    std::memset(buffer, 0x5A, 512);
    SRB_ExecSCSICmd write = Block(0x50, 512, buffer, 0x3B);
    write.SRB_Target = 4;  // unclaimed: through the port
    EXPECT_EQ(library.Send(&write), SS_COMP);
    EXPECT_EQ(windows.seenDevice, PortPath(1));
    EXPECT_EQ(windows.seen.TargetId, 4);
    EXPECT_EQ(windows.seen.DataIn, kDataOut);
    EXPECT_EQ(windows.seenData, std::vector<std::uint8_t>(512, 0x5A));
    EXPECT_EQ(windows.seen.TimeOutValue, 60u);

    SRB_ExecSCSICmd start = Block(0x40, 0, nullptr, 0x1B);
    start.SRB_CDBLen = 6;
    EXPECT_EQ(library.Send(&start), SS_COMP);
    EXPECT_EQ(windows.seen.DataIn, kDataUnspecified);
    EXPECT_EQ(windows.seen.DataTransferLength, 0u);
    EXPECT_EQ(windows.seen.DataBuffer, nullptr);
    EXPECT_EQ(windows.seen.CdbLength, 6);
    EXPECT_EQ(windows.seen.TimeOutValue, 100u);
    EXPECT_EQ(TimeoutSeconds(0x37), 100u);

    // One read-write handle per device, kept for the next request.
    EXPECT_EQ(windows.readWriteOpens, (std::vector<std::string>{DiskPath(0), PortPath(1)}));
}

TEST_F(Requests, ARequestThatTakesLongHoldsUpNoOtherDevice) {
    std::promise<void> entered, released;
    std::future<void> release = released.get_future();
    windows.answer = [&](PassThroughDirect& sptd, std::uint8_t*) -> std::uint32_t {
        if (sptd.TargetId != 1) {
            released.set_value();
            return 0;
        }
        entered.set_value();
        return release.wait_for(std::chrono::seconds(10)) == std::future_status::ready ? 0u : kErrorInvalidFunction;
    };
    SRB_ExecSCSICmd slow = Block(0x40, 0, nullptr, 0x00);
    std::thread first([&] { EXPECT_EQ(library.Send(&slow), SS_COMP); });
    entered.get_future().wait();
    SRB_ExecSCSICmd other = Block(0x40, 0, nullptr, 0x00);
    other.SRB_Target = 4;
    EXPECT_EQ(library.Send(&other), SS_COMP);
    first.join();
}

TEST_F(Requests, SenseAndShortTransfers) {
    windows.answer = [](PassThroughDirect& sptd, std::uint8_t* sense) {
        sptd.ScsiStatus = STATUS_CHKCOND;
        const std::uint8_t fixed[18] = {0xF0, 0, 0x03, 0, 0, 0x12, 0x34, 10, 0, 0, 0, 0, 0x11, 0x00};
        std::memcpy(sense, fixed, sizeof fixed);
        sptd.SenseInfoLength = sizeof fixed;
        sptd.DataTransferLength = 0;
        return 0u;
    };
    SRB_ExecSCSICmd read = Block(0x48, 512, buffer, 0x28);
    std::memset(read.SenseArea, 0xEE, sizeof read.SenseArea);
    EXPECT_EQ(library.Send(&read), SS_ERR);
    EXPECT_EQ(read.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(read.SRB_HaStat, 0);  // a short transfer says nothing beside CHECK CONDITION
    EXPECT_EQ(read.SenseArea[2] & 0x0F, 3);
    EXPECT_EQ(read.SenseArea[6], 0x34);
    EXPECT_EQ(read.SenseArea[12], 0x11);
    EXPECT_EQ(read.SenseArea[18], 0);

    windows.answer = [](PassThroughDirect& sptd, std::uint8_t* sense) {
        sptd.ScsiStatus = STATUS_CHKCOND;
        std::memset(sense, 0x77, 48);
        sptd.SenseInfoLength = 200;  // never more than the sense area's 48 bytes
        return 0u;
    };
    EXPECT_EQ(library.Send(&read), SS_ERR);
    EXPECT_EQ(read.SenseArea[47], 0x77);
    EXPECT_EQ(read.SenseArea[48], 0);

    windows.answer = [](PassThroughDirect& sptd, std::uint8_t*) {
        sptd.DataTransferLength = 36;  // a short INQUIRY answer
        return 0u;
    };
    SRB_ExecSCSICmd inquiry = Block(0x48, 80, buffer, 0x12);
    EXPECT_EQ(library.Send(&inquiry), SS_ERR);
    EXPECT_EQ(inquiry.SRB_HaStat, HASTAT_DO_DU);
    EXPECT_EQ(inquiry.SRB_TargStat, STATUS_GOOD);

    windows.answer = [](PassThroughDirect& sptd, std::uint8_t*) {
        sptd.ScsiStatus = STATUS_BUSY;
        return 0u;
    };
    EXPECT_EQ(library.Send(&inquiry), SS_ERR);
    EXPECT_EQ(inquiry.SRB_TargStat, STATUS_BUSY);
    EXPECT_EQ(inquiry.SRB_HaStat, 0);
}

TEST_F(Requests, WindowsErrors) {
    const struct {
        std::uint32_t error;
        std::uint8_t status, haStat;
    } rows[] = {
        {kErrorAccessDenied, SS_ILLEGAL_MODE, 0},
        {kErrorFileNotFound, SS_ERR, HASTAT_SEL_TO},
        {kErrorDevNotExist, SS_ERR, HASTAT_SEL_TO},
        {kErrorDeviceNotConnected, SS_ERR, HASTAT_SEL_TO},
        {kErrorSemTimeout, SS_ERR, HASTAT_COMMAND_TIMEOUT},
        {kErrorBusReset, SS_ERR, HASTAT_BUS_RESET},
        {kErrorInvalidParameter, SS_INVALID_SRB, 0},
        {kErrorNoSystemResources, SS_BUFFER_TO_BIG, 0},
        {1117, SS_ERR, 0xFF},  // ERROR_IO_DEVICE and every other error
    };
    for (const auto& row : rows) {
        windows.answer = [&](PassThroughDirect&, std::uint8_t*) { return row.error; };
        SRB_ExecSCSICmd read = Block(0x48, 512, buffer, 0x28);
        EXPECT_EQ(library.Send(&read), row.status) << row.error;
        EXPECT_EQ(read.SRB_Status, row.status) << row.error;
        EXPECT_EQ(read.SRB_HaStat, row.haStat) << row.error;
        EXPECT_EQ(read.SRB_TargStat, 0xFF) << row.error;  // never mistaken for GOOD
    }
    // After each failure the device was opened afresh: it may have gone and come back.
    EXPECT_EQ(windows.readWriteOpens.size(), std::size(rows));
    EXPECT_EQ(windows.live, 0);

    windows.answer = nullptr;
    windows.openErrors[DiskPath(0)] = kErrorAccessDenied;  // not an administrator
    SRB_ExecSCSICmd denied = Block(0x40, 0, nullptr, 0x00);
    EXPECT_EQ(library.Send(&denied), SS_ILLEGAL_MODE);
    EXPECT_EQ(denied.SRB_TargStat, 0xFF);
    windows.openErrors[DiskPath(0)] = kErrorFileNotFound;  // unplugged since the scan
    EXPECT_EQ(library.Send(&denied), SS_ERR);
    EXPECT_EQ(denied.SRB_HaStat, HASTAT_SEL_TO);
}

TEST_F(Requests, RefusalsAndMissingDevices) {
    SRB_ExecSCSICmd both = Block(0x58, 512, buffer, 0x28);
    EXPECT_EQ(library.Send(&both), SS_INVALID_SRB);
    SRB_ExecSCSICmd neither = Block(0x40, 512, buffer, 0x28);
    EXPECT_EQ(library.Send(&neither), SS_INVALID_SRB);
    SRB_ExecSCSICmd noBuffer = Block(0x48, 512, nullptr, 0x28);
    EXPECT_EQ(library.Send(&noBuffer), SS_INVALID_SRB);
    EXPECT_EQ(noBuffer.SRB_TargStat, 0xFF);
    SRB_ExecSCSICmd longCdb = Block(0x48, 512, buffer, 0x28);
    longCdb.SRB_CDBLen = 17;
    EXPECT_EQ(library.Send(&longCdb), SS_INVALID_SRB);
    SRB_ExecSCSICmd tooBig = Block(0x48, 65537, buffer, 0x28);
    EXPECT_EQ(library.Send(&tooBig), SS_BUFFER_TO_BIG);
    EXPECT_TRUE(windows.readWriteOpens.empty());

    SRB_ExecSCSICmd absent = Block(0x48, 512, buffer, 0x28);
    absent.SRB_Target = 2;
    EXPECT_EQ(library.Send(&absent), SS_ERR);
    EXPECT_EQ(absent.SRB_HaStat, HASTAT_SEL_TO);
    EXPECT_EQ(absent.SRB_TargStat, 0xFF);
    SRB_ExecSCSICmd lun = Block(0x48, 512, buffer, 0x28);
    lun.SRB_Lun = 1;
    EXPECT_EQ(library.Send(&lun), SS_ERR);
    EXPECT_EQ(lun.SRB_HaStat, HASTAT_SEL_TO);
    SRB_ExecSCSICmd wrongAdapter = Block(0x48, 512, buffer, 0x28);
    wrongAdapter.SRB_HaId = 1;
    EXPECT_EQ(library.Send(&wrongAdapter), SS_INVALID_HA);
    EXPECT_TRUE(windows.readWriteOpens.empty());

    // Nothing is ever pending: an abort finds the block already finished.
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = &absent;
    EXPECT_EQ(library.Send(&abort), SS_COMP);
    EXPECT_EQ(absent.SRB_Status, SS_ERR);
    abort.SRB_ToAbort = nullptr;
    EXPECT_EQ(library.Send(&abort), SS_INVALID_SRB);
    abort.SRB_HaId = 3;
    EXPECT_EQ(library.Send(&abort), SS_INVALID_HA);

    SRB_Header unknown{};
    unknown.SRB_Cmd = 0x07;
    EXPECT_EQ(library.Send(&unknown), SS_INVALID_SRB);
    EXPECT_EQ(library.Send(nullptr), SS_INVALID_SRB);
}

// The port driver takes only buffers on the adapter's alignment; the
// program's buffers may lie anywhere.
TEST_F(Requests, MisalignedBuffersGoThroughTheLibrarysOwn) {
    windows.ports[1].alignmentMask = 0xF;
    library.Refresh(Enumerate(windows));
    std::uint8_t* odd = buffer + 1;
    windows.answer = [](PassThroughDirect& sptd, std::uint8_t*) {
        std::memset(sptd.DataBuffer, 0xC3, 100);
        sptd.DataTransferLength = 100;
        return 0u;
    };
    SRB_ExecSCSICmd read = Block(0x48, 512, odd, 0x28);
    EXPECT_EQ(library.Send(&read), SS_ERR);  // short: 100 of 512
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(windows.seen.DataBuffer) & 0xF, 0u);
    EXPECT_EQ(odd[0], 0xC3);
    EXPECT_EQ(odd[99], 0xC3);
    EXPECT_EQ(odd[100], 0);

    windows.answer = nullptr;
    for (int i = 0; i < 300; ++i) odd[i] = static_cast<std::uint8_t>(i);
    SRB_ExecSCSICmd write = Block(0x50, 300, odd, 0x2A);
    EXPECT_EQ(library.Send(&write), SS_COMP);
    EXPECT_NE(windows.seen.DataBuffer, odd);
    EXPECT_EQ(std::vector<std::uint8_t>(odd, odd + 300), windows.seenData);
}

#ifdef __linux__
// Where Windows and Linux give the same outcome, the program must see the
// same block from either library.
TEST(SameAsLinux, SystemErrorsAndTimeOuts) {
    const std::pair<int, std::uint32_t> pairs[] = {
        {EACCES, kErrorAccessDenied}, {ENOENT, kErrorFileNotFound}, {ENODEV, kErrorDevNotExist},
        {ENXIO, kErrorDeviceNotConnected}, {ENOMEM, kErrorNotEnoughMemory}, {EINVAL, kErrorInvalidParameter},
    };
    for (const auto& [errnoValue, windowsError] : pairs) {
        sgaspi::Library linux({sgaspi::Adapter{0, "fake", {{1, sgaspi::Target{"/dev/sg0", 0}}}, 8}},
                              [&](const std::string&, sg_io_hdr_t&) { return -errnoValue; });
        FakeWindows windows;
        windows.ports[0] = {InquiryAnswer(7, {{0, 1, 0, 0}}), "fake", 0, 0};
        windows.answer = [&](PassThroughDirect&, std::uint8_t*) { return windowsError; };
        Library library(Enumerate(windows), windows);
        SRB_ExecSCSICmd onLinux{}, onWindows{};
        onLinux.SRB_Cmd = SC_EXEC_SCSI_CMD;
        onLinux.SRB_Target = 1;
        onLinux.SRB_CDBLen = 6;
        onWindows = onLinux;
        EXPECT_EQ(library.Send(&onWindows), linux.Send(&onLinux)) << errnoValue;
        EXPECT_EQ(onWindows.SRB_HaStat, onLinux.SRB_HaStat) << errnoValue;
        EXPECT_EQ(onWindows.SRB_TargStat, onLinux.SRB_TargStat) << errnoValue;
        onLinux.SRB_Target = onWindows.SRB_Target = 2;  // listed on neither
        EXPECT_EQ(library.Send(&onWindows), linux.Send(&onLinux));
        EXPECT_EQ(onWindows.SRB_HaStat, onLinux.SRB_HaStat);
        EXPECT_EQ(onWindows.SRB_TargStat, onLinux.SRB_TargStat);
    }
    for (int op = 0; op < 256; ++op)
        EXPECT_EQ(TimeoutSeconds(static_cast<std::uint8_t>(op)) * 1000, sgaspi::TimeoutMs(static_cast<std::uint8_t>(op)));
}
#endif

#ifdef _WIN32
// The built library, its two exports and its real enumeration (under Wine:
// a machine without SCSI ports).
TEST(BuiltLibrary, ExportsAndEnumeration) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self);
    folder.erase(folder.find_last_of("\\/"));
    const HMODULE lib = LoadLibraryExA((folder + "\\spti\\wnaspi32.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(lib, nullptr);
    auto info = reinterpret_cast<GetASPI32SupportInfoFn>(reinterpret_cast<void*>(GetProcAddress(lib, "GetASPI32SupportInfo")));
    auto send = reinterpret_cast<SendASPI32CommandFn>(reinterpret_cast<void*>(GetProcAddress(lib, "SendASPI32Command")));
    ASSERT_TRUE(info && send);
    const std::uint32_t support = info();
    EXPECT_EQ(support >> 8 & 0xFF, SS_COMP);
    SRB_HAInquiry ha{};
    ha.SRB_HaId = static_cast<std::uint8_t>(support & 0xFF);
    EXPECT_EQ(send(&ha), SS_INVALID_HA);
    EXPECT_EQ(send(nullptr), SS_INVALID_SRB);
    FreeLibrary(lib);
}
#endif

}  // namespace
}  // namespace spti
