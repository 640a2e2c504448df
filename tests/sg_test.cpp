// The Linux SCSI generic library: enumeration over a fake device tree, the
// status mapping, requests against a stand-in for the ioctl (completed at
// once) and for the driver (completed when the test says), the completion
// thread over a stand-in node; a real device when the machine has one.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/completion_event.h"
#include "platform/dynamic_library.h"
#include "sg_driver.h"
#include "transport/aspi.h"
#include "transport/request_block.h"

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

    EXPECT_EQ(ApplyResult(srb, io, sense), SS_COMP);
    EXPECT_EQ(srb.SRB_HaStat, 0);

    io.status = STATUS_CHKCOND;
    io.sb_len_wr = 18;
    EXPECT_EQ(ApplyResult(srb, io, sense), SS_ERR);
    EXPECT_EQ(srb.SRB_TargStat, STATUS_CHKCOND);
    EXPECT_EQ(srb.SenseArea[17], 0xA0 + 17);
    EXPECT_EQ(srb.SenseArea[18], 0);

    io.sb_len_wr = 200;  // never more than the sense area's 48 bytes
    ApplyResult(srb, io, sense);
    EXPECT_EQ(srb.SenseArea[47], 0xA0 + 47);
    EXPECT_EQ(srb.SenseArea[48], 0);

    io = {};
    io.resid = 44;  // a short INQUIRY answer
    EXPECT_EQ(ApplyResult(srb, io, sense), SS_ERR);
    EXPECT_EQ(srb.SRB_HaStat, HASTAT_DO_DU);

    io = {};
    io.host_status = 0x05;
    EXPECT_EQ(ApplyResult(srb, io, sense), SS_ABORTED);

    io = {};
    io.status = STATUS_BUSY;
    ApplyResult(srb, io, sense);
    EXPECT_EQ(srb.SRB_TargStat, STATUS_BUSY);
    EXPECT_EQ(srb.SenseArea[0], 0);
}

TEST(StatusMapping, SystemErrors) {
    struct Row {
        int error;
        std::uint8_t status, haStat;
    };
    const Row rows[] = {
        {ENODEV, SS_ERR, HASTAT_SEL_TO},  // the device has gone
        {ENXIO, SS_ERR, HASTAT_SEL_TO},
        {ENOENT, SS_ERR, HASTAT_SEL_TO},  // so has its node
        {EACCES, SS_ILLEGAL_MODE, 0},
        {ENOMEM, SS_BUFFER_TO_BIG, 0},
        {EINVAL, SS_INVALID_SRB, 0},
        {EIO, SS_ERR, 0},
    };
    for (const Row& row : rows) {
        SRB_ExecSCSICmd srb{};
        EXPECT_EQ(ApplyError(srb, row.error), row.status) << row.error;
        EXPECT_EQ(srb.SRB_HaStat, row.haStat) << row.error;
        EXPECT_EQ(srb.SRB_TargStat, 0xFF) << row.error;  // no status came back
    }
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

// A READ(10) of one block, as the program sends it.
SRB_ExecSCSICmd ReadBlock(std::uint8_t* buffer, void* event, std::uint8_t target = 1) {
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    srb.SRB_Target = target;
    srb.SRB_BufLen = 512;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = 48;
    srb.SRB_CDBLen = 10;
    srb.SRB_PostProc = event;
    srb.CDBByte[0] = 0x28;
    srb.CDBByte[8] = 1;
    return srb;
}

std::uint32_t AbortOf(Library& library, SRB_ExecSCSICmd* pending) {
    SRB_Abort abort{};
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_ToAbort = pending;
    return library.Send(&abort);
}

// Stands in for the kernel's sg driver: keeps each request until the test
// returns it, with what the kernel would have written into it.
class FakeDriver final : public Driver {
public:
    void Start(Completion done) override { done_ = std::move(done); }
    int Submit(const std::string&, const sg_io_hdr_t& io) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (refusal != 0) return -refusal;
        submitted_.push_back(io);
        arrived_.notify_all();
        return 0;
    }
    // Completes the n-th request once it has been submitted.
    void Return(std::size_t n, int error, const std::function<void(sg_io_hdr_t&)>& answer = {}) {
        sg_io_hdr_t io;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            arrived_.wait(lock, [&] { return submitted_.size() > n; });
            io = submitted_[n];
        }
        if (answer) answer(io);
        done_(io, error);
    }

    int refusal = 0;  // errno with which Submit refuses

private:
    Completion done_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<sg_io_hdr_t> submitted_;
};

// The program's own execution step over the library, with short waits.
class Asynchronous : public ::testing::Test {
protected:
    static constexpr std::uint32_t kWaitMs = 50;

    Asynchronous() : driver(new FakeDriver), library({Adapter{0, "fake", {{1, Target{"/dev/sg7", 0}}}, 8}}, std::unique_ptr<Driver>(driver)) {
        bound = &library;
        tamro::Aspi().sendCommand = [](void* request) { return bound->Send(request); };
        tamro::Aspi().completionEvent = tamro::platform::CreateCompletionEvent();
        tamro::testing::SetAspiWaits({kWaitMs, kWaitMs, kWaitMs});
    }
    ~Asynchronous() override {
        tamro::testing::ReleaseAspiBinding();
        tamro::testing::SetAspiWaits({});
        bound = nullptr;
    }

    static std::string LastError() { return tamro::CurrentFailureFields().lastError; }
    static int ErrorKind() { return *tamro::CurrentFailureFields().errorKind; }
    static void* Event() { return tamro::Aspi().completionEvent->Handle(); }

    static inline Library* bound = nullptr;
    FakeDriver* driver;  // owned by the library
    Library library;
};

TEST_F(Asynchronous, ACompletionAfterTheProgramsWaitIsStillDelivered) {
    // The library holds block and buffer until the kernel returns the
    // request, whatever the program's wait decided: both are the transport's.
    tamro::RequestBlock request;
    SRB_ExecSCSICmd& read = request.Srb();
    std::uint8_t* data = request.Data();
    read = ReadBlock(data, Event());
    EXPECT_EQ(tamro::ExecScsiCmd("Read(10)", request), -1);
    EXPECT_EQ(LastError(), "Error: Read(10): Event Timeout.");
    EXPECT_EQ(ErrorKind(), 1);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(read.SRB_Status).load(), SS_PENDING);
    EXPECT_EQ(AbortOf(library, &read), SS_ABORT_FAIL);  // the sg driver cannot take it back

    driver->Return(0, 0, [](sg_io_hdr_t& io) { std::memset(io.dxferp, 0x5A, io.dxfer_len); });
    EXPECT_EQ(read.SRB_Status, SS_COMP);
    EXPECT_EQ(read.SRB_TargStat, STATUS_GOOD);
    EXPECT_EQ(data[511], 0x5A);
    EXPECT_EQ(tamro::Aspi().completionEvent->Wait(0), tamro::platform::WaitResult::Signalled);
    EXPECT_EQ(AbortOf(library, &read), SS_COMP);  // nothing left to abort
}

TEST_F(Asynchronous, ARequestThatNeverCompletesHoldsOnlyItself) {
    tamro::RequestBlock stuck, next;
    SRB_ExecSCSICmd& stop = stuck.Srb();
    stop = ReadBlock(stuck.Data(), Event());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tamro::ExecScsiCmdLong("Start/Stop Unit", stuck), -1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(kWaitMs));
    EXPECT_LT(waited, std::chrono::seconds(10));  // the set wait, not the real one, whatever the load
    EXPECT_EQ(LastError(), "Error: Start/Stop Unit: Event Timeout.");

    // The library goes on serving the drives while it holds the stuck one.
    tamro::testing::SetAspiWaits({5000, 5000, 5000, 10});
    std::thread kernel([&] { driver->Return(1, 0); });
    next.Srb() = ReadBlock(next.Data(), Event());
    EXPECT_EQ(tamro::ExecScsiCmd("Read(10)", next), 0);
    kernel.join();
    EXPECT_EQ(AbortOf(library, &stop), SS_ABORT_FAIL);
    EXPECT_EQ(stop.SRB_Status, SS_PENDING);
}

TEST_F(Asynchronous, AVanishedDeviceIsASelectionTimeoutInEveryVariant) {
    using Step = int (*)(const char*, tamro::RequestBlock&);
    const Step steps[] = {tamro::ExecScsiCmd, tamro::ExecScsiCmdLong, tamro::ExecScsiCmdDownload,
                          tamro::ExecScsiCmdSpecialWrite};
    tamro::RequestBlock request;
    for (const int error : {ENODEV, ENXIO, ENOENT}) {
        driver->refusal = error;
        for (const Step step : steps) {
            request.Srb() = ReadBlock(request.Data(), Event());
            EXPECT_EQ(step("Read(10)", request), -1);
            EXPECT_EQ(LastError(), "Read(10): Selection timeout.") << error;
            EXPECT_EQ(ErrorKind(), 1);
        }
        request.Srb() = ReadBlock(request.Data(), Event());
        EXPECT_EQ(tamro::ExecScsiCmdProbe(request), -1);
    }

    // Gone while the kernel held the request.
    driver->refusal = 0;
    tamro::testing::SetAspiWaits({5000, 5000, 5000});
    std::thread kernel([&] { driver->Return(0, ENODEV); });
    request.Srb() = ReadBlock(request.Data(), Event());
    EXPECT_EQ(tamro::ExecScsiCmdLong("ReadDefectData", request), -1);
    kernel.join();
    EXPECT_EQ(LastError(), "ReadDefectData: Selection timeout.");
}

// The library's completion thread over a device node: a socket stands in for
// the sg node, and the test plays the kernel at its other end.
TEST(SgDriverThread, ReadsCompletionsBackAndLosesWhatAVanishedDeviceHeld) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    ASSERT_EQ(fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    bool opened = false;  // once: after the device has gone its node cannot be opened
    auto open = [&](const std::string& node) {
        if (node != "/dev/sg7" || opened) return -ENOENT;
        opened = true;
        return ends[0];
    };
    Library library({Adapter{0, "fake", {{1, Target{"/dev/sg7", 0}}}, 8}}, std::make_unique<SgDriver>(open));
    auto event = tamro::platform::CreateCompletionEvent();
    ASSERT_TRUE(event);

    std::uint8_t data[512] = {};
    SRB_ExecSCSICmd read = ReadBlock(data, event->Handle());
    ASSERT_EQ(library.Send(&read), SS_PENDING);
    sg_io_hdr_t io;
    ASSERT_EQ(recv(ends[1], &io, sizeof io, 0), static_cast<ssize_t>(sizeof io));
    EXPECT_EQ(io.timeout, 10000u);  // the kernel's own bound stays
    std::memset(io.dxferp, 0x5A, io.dxfer_len);
    io.status = STATUS_GOOD;
    ASSERT_EQ(send(ends[1], &io, sizeof io, 0), static_cast<ssize_t>(sizeof io));
    EXPECT_EQ(event->Wait(5000), tamro::platform::WaitResult::Signalled);
    EXPECT_EQ(read.SRB_Status, SS_COMP);
    EXPECT_EQ(data[0], 0x5A);

    SRB_ExecSCSICmd lost = ReadBlock(data, event->Handle());
    ASSERT_EQ(library.Send(&lost), SS_PENDING);
    ASSERT_EQ(recv(ends[1], &io, sizeof io, 0), static_cast<ssize_t>(sizeof io));
    close(ends[1]);
    EXPECT_EQ(event->Wait(5000), tamro::platform::WaitResult::Signalled);
    EXPECT_EQ(lost.SRB_Status, SS_ERR);
    EXPECT_EQ(lost.SRB_HaStat, HASTAT_SEL_TO);

    SRB_ExecSCSICmd after = ReadBlock(data, event->Handle());
    EXPECT_EQ(library.Send(&after), SS_ERR);
    EXPECT_EQ(after.SRB_HaStat, HASTAT_SEL_TO);
}

// A request the kernel returns while the caller still waits on its node is
// finished in the call, with no event; one it keeps past the caller's bound is
// left to the completion thread; what comes back for an earlier request during
// a caller's wait is delivered with that request's event.
TEST(SgDriverThread, TheCallerFinishesWhatComesBackWithinItsBound) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    ASSERT_EQ(fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    // The device keeps the first request until the second arrives, then
    // returns both.
    std::thread device([&] {
        sg_io_hdr_t first, second;
        if (recv(ends[1], &first, sizeof first, 0) != static_cast<ssize_t>(sizeof first)) return;
        if (recv(ends[1], &second, sizeof second, 0) != static_cast<ssize_t>(sizeof second)) return;
        for (sg_io_hdr_t* io : {&first, &second}) {
            std::memset(io->dxferp, io == &first ? 0x11 : 0x22, io->dxfer_len);
            io->status = STATUS_GOOD;
            send(ends[1], io, sizeof *io, 0);
        }
    });
    Library library({Adapter{0, "fake", {{1, Target{"/dev/sg7", 0}}}, 8}},
                    std::make_unique<SgDriver>([&](const std::string&) { return ends[0]; },
                                               std::chrono::milliseconds(300)));
    auto event = tamro::platform::CreateCompletionEvent();
    std::uint8_t firstData[512] = {}, secondData[512] = {};
    SRB_ExecSCSICmd first = ReadBlock(firstData, event->Handle());
    SRB_ExecSCSICmd second = ReadBlock(secondData, event->Handle());

    EXPECT_EQ(library.Send(&first), SS_PENDING);
    EXPECT_EQ(library.Send(&second), SS_COMP);
    EXPECT_EQ(secondData[0], 0x22);
    EXPECT_EQ(event->Wait(5000), tamro::platform::WaitResult::Signalled);  // the first one's
    EXPECT_EQ(first.SRB_Status, SS_COMP);
    EXPECT_EQ(firstData[0], 0x11);
    EXPECT_EQ(event->Wait(0), tamro::platform::WaitResult::TimedOut);
    device.join();
    close(ends[1]);
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
    auto event = tamro::platform::CreateCompletionEvent();
    ASSERT_TRUE(event);
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
            srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
            srb.SRB_PostProc = event->Handle();
            srb.SRB_BufLen = sizeof data;
            srb.SRB_BufPointer = data;
            srb.SRB_SenseLen = 48;
            srb.SRB_CDBLen = 6;
            srb.CDBByte[0] = 0x12;
            srb.CDBByte[4] = sizeof data;
            const std::uint32_t status = send(&srb);
            if (status == SS_ILLEGAL_MODE) GTEST_SKIP() << "no permission on the SCSI generic devices";
            ASSERT_EQ(status, SS_PENDING);
            ASSERT_EQ(event->Wait(15000), tamro::platform::WaitResult::Signalled);
            EXPECT_EQ(srb.SRB_Status, SS_COMP);
            EXPECT_EQ(srb.SRB_TargStat, STATUS_GOOD);
            EXPECT_EQ(data[0] & 0x1F, dev.SRB_DeviceType);
            ++asked;
        }
    }
    if (asked == 0) GTEST_SKIP() << "no device answered on LUN 0";
}

}  // namespace
}  // namespace sgaspi
