// The Linux SCSI generic library: enumeration over a fake device tree, the
// status mapping, and the translation of requests against a stand-in for
// the ioctl; a real device when the machine has one.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/dynamic_library.h"
#include "sg_backend.h"

namespace sgaspi {
namespace {

namespace fs = std::filesystem;

class FakeTree : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("tamro-sg-" + std::to_string(getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "class" / "scsi_generic");
    }
    void TearDown() override { fs::remove_all(root); }

    void Device(const std::string& sg, const std::string& hctl, int type) {
        const fs::path dev = root / "devices" / "pci0000:00" / ("target" + hctl) / hctl;
        fs::create_directories(dev);
        std::ofstream(dev / "type") << type << "\n";
        fs::create_directories(root / "class" / "scsi_generic" / sg);
        fs::create_directory_symlink(dev, root / "class" / "scsi_generic" / sg / "device");
    }
    void Host(int host, const std::string& procName) {
        const fs::path h = root / "class" / "scsi_host" / ("host" + std::to_string(host));
        fs::create_directories(h);
        std::ofstream(h / "proc_name") << procName << "\n";
    }

    fs::path root;
};

TEST_F(FakeTree, HostsBecomeAdaptersInAscendingOrder) {
    Device("sg0", "5:0:3:0", 0);
    Device("sg1", "2:0:0:0", 5);
    Device("sg2", "2:0:12:0", 0);
    Device("sg3", "2:0:4:1", 0);  // LUN 1: not reachable through ASPI
    Device("sg4", "2:1:6:0", 0);  // second channel: not reachable either
    Host(2, "mptspi");
    Host(5, "usb-storage");
    const auto adapters = Enumerate(root.string(), "/dev");
    ASSERT_EQ(adapters.size(), 2u);
    EXPECT_EQ(adapters[0].host, 2);
    EXPECT_EQ(adapters[0].procName, "mptspi");
    ASSERT_EQ(adapters[0].targets.size(), 2u);
    EXPECT_EQ(adapters[0].targets.at(0).type, 5);
    EXPECT_EQ(adapters[0].targets.at(12).node, "/dev/sg2");
    EXPECT_EQ(adapters[0].targetsSupported, 13);
    EXPECT_EQ(adapters[1].host, 5);
    EXPECT_EQ(adapters[1].targets.at(3).node, "/dev/sg0");
    EXPECT_EQ(adapters[1].targetsSupported, 8);
}

TEST_F(FakeTree, NoGenericDevicesMeansNoAdapters) {
    EXPECT_TRUE(Enumerate(root.string(), "/dev").empty());
    EXPECT_TRUE(Enumerate((root / "missing").string(), "/dev").empty());
}

TEST(StatusMapping, HostAndDriverStatusToAdapterStatus) {
    const std::pair<unsigned, std::uint8_t> rows[] = {
        {0x00, 0x00}, {0x01, 0x11}, {0x02, 0x09}, {0x03, 0x0B}, {0x04, 0x11}, {0x05, 0x0B},
        {0x06, 0x0F}, {0x07, 0x14}, {0x08, 0x0E}, {0x09, 0x13}, {0x0E, 0x8E},
    };
    for (const auto& [host, expected] : rows) EXPECT_EQ(HostAdapterStatus(host, 0), expected) << host;
    EXPECT_EQ(HostAdapterStatus(0x00, 0x06), 0x0B);  // the driver's own time-out
    EXPECT_EQ(HostAdapterStatus(0x00, 0x08), 0x00);  // DRIVER_SENSE only says sense is there
}

TEST(StatusMapping, ResultsIntoTheBlock) {
    SRB_ExecSCSICmd srb{};
    sg_io_hdr_t io{};
    std::uint8_t sense[48];
    for (int i = 0; i < 48; ++i) sense[i] = static_cast<std::uint8_t>(0xA0 + i);

    ApplyResult(srb, io, sense);
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(srb.SRB_HaStat, 0);

    io.status = STATUS_CHKCOND;
    io.sb_len_wr = 18;
    ApplyResult(srb, io, sense);
    EXPECT_EQ(srb.SRB_Status, SS_ERR);
    EXPECT_EQ(srb.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(srb.SenseArea[17], 0xA0 + 17);
    EXPECT_EQ(srb.SenseArea[18], 0);

    io.sb_len_wr = 200;  // never more than the sense area's 48 bytes
    ApplyResult(srb, io, sense);
    EXPECT_EQ(srb.SenseArea[47], 0xA0 + 47);
    EXPECT_EQ(srb.SenseArea[48], 0);

    io = {};
    io.resid = 44;  // a short INQUIRY answer
    ApplyResult(srb, io, sense);
    EXPECT_EQ(srb.SRB_HaStat, HASTAT_DO_DU);
    EXPECT_EQ(srb.SRB_Status, SS_ERR);

    io = {};
    io.host_status = 0x05;
    ApplyResult(srb, io, sense);
    EXPECT_EQ(srb.SRB_Status, SS_ABORTED);

    io = {};
    io.status = STATUS_BUSY;
    ApplyResult(srb, io, sense);
    EXPECT_EQ(srb.SRB_TargStat, STATUS_BUSY);
    EXPECT_EQ(srb.SenseArea[0], 0);
}

TEST(StatusMapping, SystemErrors) {
    EXPECT_EQ(StatusForErrno(EACCES), SS_ILLEGAL_MODE);
    EXPECT_EQ(StatusForErrno(ENOENT), SS_NO_DEVICE);
    EXPECT_EQ(StatusForErrno(ENOMEM), SS_BUFFER_TO_BIG);
    EXPECT_EQ(StatusForErrno(EINVAL), SS_INVALID_SRB);
    EXPECT_EQ(StatusForErrno(EIO), SS_ERR);
}

class Requests : public ::testing::Test {
protected:
    Requests()
        : library({Adapter{3, "fake", {{1, Target{"/dev/sg7", 0}}}, 8}},
                  [this](const std::string& node, sg_io_hdr_t& io) {
                      seenNode = node;
                      seen = io;
                      std::memcpy(seenCdb, io.cmdp, io.cmd_len);
                      if (answer) return answer(io);
                      return 0;
                  }) {}

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

    Library library;
    std::function<int(sg_io_hdr_t&)> answer;
    std::string seenNode;
    sg_io_hdr_t seen{};
    std::uint8_t seenCdb[16] = {};
    std::uint8_t buffer[8192] = {};
};

TEST_F(Requests, DirectionLengthsAndTimeOuts) {
    SRB_ExecSCSICmd read = Block(0x48, 8192, buffer, 0x28);
    EXPECT_EQ(library.Send(&read), SS_COMP);
    EXPECT_EQ(seenNode, "/dev/sg7");
    EXPECT_EQ(seen.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(seen.dxfer_len, 8192u);
    EXPECT_EQ(seen.dxferp, buffer);
    EXPECT_EQ(seen.cmd_len, 10);
    EXPECT_EQ(seenCdb[0], 0x28);
    EXPECT_EQ(seenCdb[8], 16);
    EXPECT_EQ(seen.mx_sb_len, 48);
    EXPECT_EQ(seen.timeout, 10000u);

    SRB_ExecSCSICmd write = Block(0x50, 512, buffer, 0x3B);
    EXPECT_EQ(library.Send(&write), SS_COMP);
    EXPECT_EQ(seen.dxfer_direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(seen.timeout, 60000u);

    SRB_ExecSCSICmd stop = Block(0x40, 0, nullptr, 0x1B);
    stop.SRB_CDBLen = 6;
    EXPECT_EQ(library.Send(&stop), SS_COMP);
    EXPECT_EQ(seen.dxfer_direction, SG_DXFER_NONE);
    EXPECT_EQ(seen.dxfer_len, 0u);
    EXPECT_EQ(seen.cmd_len, 6);
    EXPECT_EQ(seen.timeout, 100000u);
    EXPECT_EQ(TimeoutMs(0x37), 100000u);
}

TEST_F(Requests, SenseIsCopiedFromTheDriver) {
    answer = [](sg_io_hdr_t& io) {
        io.status = STATUS_CHKCOND;
        io.driver_status = 0x08;
        const std::uint8_t sense[18] = {0xF0, 0, 0x03, 0, 0, 0x12, 0x34, 10, 0, 0, 0, 0, 0x11, 0x00};
        std::memcpy(io.sbp, sense, sizeof sense);
        io.sb_len_wr = sizeof sense;
        return 0;
    };
    SRB_ExecSCSICmd read = Block(0x48, 512, buffer, 0x28);
    EXPECT_EQ(library.Send(&read), SS_ERR);
    EXPECT_EQ(read.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(read.SRB_HaStat, 0);
    EXPECT_EQ(read.SenseArea[2] & 0x0F, 3);
    EXPECT_EQ(read.SenseArea[12], 0x11);
    EXPECT_EQ(read.SenseArea[6], 0x34);
}

TEST_F(Requests, RefusalsAndMissingDevices) {
    SRB_ExecSCSICmd both = Block(0x58, 512, buffer, 0x28);
    EXPECT_EQ(library.Send(&both), SS_INVALID_SRB);
    SRB_ExecSCSICmd noBuffer = Block(0x48, 512, nullptr, 0x28);
    EXPECT_EQ(library.Send(&noBuffer), SS_INVALID_SRB);
    EXPECT_EQ(noBuffer.SRB_TargStat, 0xFF);  // never mistaken for GOOD
    seenNode.clear();

    SRB_ExecSCSICmd absent = Block(0x48, 512, buffer, 0x28);
    absent.SRB_Target = 2;
    EXPECT_EQ(library.Send(&absent), SS_ERR);
    EXPECT_EQ(absent.SRB_HaStat, HASTAT_SEL_TO);
    EXPECT_TRUE(seenNode.empty());

    SRB_ExecSCSICmd wrongAdapter = Block(0x48, 512, buffer, 0x28);
    wrongAdapter.SRB_HaId = 1;
    EXPECT_EQ(library.Send(&wrongAdapter), SS_INVALID_HA);

    answer = [](sg_io_hdr_t&) { return -EACCES; };
    SRB_ExecSCSICmd denied = Block(0x40, 0, nullptr, 0x1B);
    EXPECT_EQ(library.Send(&denied), SS_ILLEGAL_MODE);
    EXPECT_EQ(denied.SRB_TargStat, 0xFF);
}

TEST_F(Requests, AdapterInquiryAndDeviceTypes) {
    EXPECT_EQ(library.SupportInfo(), 0x0101u);
    SRB_HAInquiry ha{};
    EXPECT_EQ(library.Send(&ha), SS_COMP);
    EXPECT_EQ(ha.HA_Count, 1);
    EXPECT_EQ(std::memcmp(ha.HA_Identifier, "fake", 4), 0);
    EXPECT_EQ(ha.HA_Unique[3], 8);
    ha.SRB_HaId = 1;
    EXPECT_EQ(library.Send(&ha), SS_INVALID_HA);

    SRB_GDEVBlock dev{};
    dev.SRB_Cmd = SC_GET_DEV_TYPE;
    dev.SRB_Target = 1;
    EXPECT_EQ(library.Send(&dev), SS_COMP);
    EXPECT_EQ(dev.SRB_DeviceType, 0);
    dev.SRB_Target = 0;
    EXPECT_EQ(library.Send(&dev), SS_NO_DEVICE);
}

// Against the machine's own devices, through the built library.
TEST(RealDevice, InquiryOfEveryDisk) {
    std::error_code ec;
    if (!fs::exists("/sys/class/scsi_generic", ec) || fs::is_empty("/sys/class/scsi_generic", ec))
        GTEST_SKIP() << "no SCSI generic device on this machine";
    void* lib = dlopen((tamro::platform::ExecutableFolder() + "/sg/libwnaspi32.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto info = reinterpret_cast<GetASPI32SupportInfoFn>(dlsym(lib, "GetASPI32SupportInfo"));
    auto send = reinterpret_cast<SendASPI32CommandFn>(dlsym(lib, "SendASPI32Command"));
    ASSERT_TRUE(info && send);
    const std::uint32_t support = info();
    ASSERT_EQ(support >> 8 & 0xFF, SS_COMP);
    int asked = 0;
    for (std::uint8_t ha = 0; ha < (support & 0xFF); ++ha) {
        for (std::uint8_t t = 0; t < 16; ++t) {
            SRB_GDEVBlock dev{};
            dev.SRB_Cmd = SC_GET_DEV_TYPE;
            dev.SRB_HaId = ha;
            dev.SRB_Target = t;
            if (send(&dev) != SS_COMP) continue;
            std::uint8_t data[80] = {};
            SRB_ExecSCSICmd srb{};
            srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
            srb.SRB_HaId = ha;
            srb.SRB_Target = t;
            srb.SRB_Flags = SRB_DIR_IN;
            srb.SRB_BufLen = sizeof data;
            srb.SRB_BufPointer = data;
            srb.SRB_SenseLen = 48;
            srb.SRB_CDBLen = 6;
            srb.CDBByte[0] = 0x12;
            srb.CDBByte[4] = sizeof data;
            const std::uint32_t status = send(&srb);
            if (status == SS_ILLEGAL_MODE) GTEST_SKIP() << "no permission on the SCSI generic devices";
            EXPECT_NE(status, SS_PENDING);
            EXPECT_EQ(srb.SRB_TargStat, STATUS_GOOD);
            EXPECT_EQ(data[0] & 0x1F, dev.SRB_DeviceType);
            ++asked;
        }
    }
    if (asked == 0) GTEST_SKIP() << "no device answered on LUN 0";
}

}  // namespace
}  // namespace sgaspi
