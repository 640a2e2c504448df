// Microcode download against the simulated bus, which reassembles what it
// received: the chunks, the verdicts, the logs and the refused files.

#include <filesystem>
#include <fstream>
#include <sstream>

#include "microcode/microcode.h"
#include "sim_fixture.h"
#include "sim_microcode.h"
#include "temp_folder.h"
#include "ui/main_window.h"
#include "ui/window_model.h"

namespace tamro::test {
namespace {

namespace fs = std::filesystem;
using ui::ControlId;

class Microcode : public SimBus {
protected:
    void SetUp() override {
        SimBus::SetUp();
        ui::Form().Reset();
        folder = MakeTempFolder(std::string("tamro-mc-") +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        previous = fs::current_path();
        fs::current_path(folder);
        driveCount = 0;
    }
    void TearDown() override {
        ui::Form().SetFileChooser(nullptr);
        ui::Form().SetChangeListener(nullptr);
        fs::current_path(previous);
        fs::remove_all(folder);
        SimBus::TearDown();
    }

    // A drive in slot `slot` as the scan leaves it, ticked.
    void Drive(int slot, int target, const char* serial, std::int32_t errorKind = 0, std::int32_t layout = 4) {
        if (target != 0) {
            SimDiskConfig cfg;
            sim_disk_config_init(&cfg);
            sim_add_disk(0, target, &cfg);
        }
        DriveSlot& s = DriveTable[static_cast<std::size_t>(slot)];
        s.hostAdapter = 0;
        s.targetId = target;
        s.errorKind = errorKind;
        s.logLayout = layout;
        s.vendorClass = kVendorHalcyon;
        s.blockSize = 512;
        const std::uint8_t inquiry[36] = {0, 0, 2, 2, 91, 0, 0, 0, 'H', 'A', 'L', 'C', 'Y', 'O', 'N', ' ',
                                          'H', 'X', '3', '6', 'L', 'P', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                          ' ', '0', '1', '0', '4'};
        std::memcpy(s.inquiryData, inquiry, sizeof inquiry);
        std::snprintf(s.serialNumber, sizeof s.serialNumber, "%s", serial);
        ui::Form().Check(kBoxes[slot]);
        driveCount = std::max(driveCount, slot + 1);
    }

    // An image the test drives (series CV-7) take, when it is long enough
    // for the header; shorter files are plain bytes.
    std::vector<std::uint8_t> File(const std::string& name, std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 9));
        constexpr std::size_t header = sim_microcode::kHeaderLength;
        if (size >= header) bytes = sim_microcode::MakeImage("CV-7", bytes.data() + header, size - header);
        std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(size));
        return bytes;
    }

    bool Load(const std::string& path) {
        ui::Form().SetFileChooser([path](const ui::FileRequest&) { return std::optional<std::string>(path); });
        return ui::LoadChosenMicrocode();
    }

    static std::string Read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    static std::vector<std::pair<std::uint32_t, std::uint32_t>> Chunks(int target) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (int i = 0; i < sim_disk_download_chunk_count(0, target); ++i) {
            std::uint32_t offset, length;
            sim_disk_download_chunk(0, target, i, &offset, &length);
            out.emplace_back(offset, length);
        }
        return out;
    }

    static constexpr ControlId kBoxes[7] = {ControlId::ID0D, ControlId::ID1D, ControlId::ID2D, ControlId::ID3D,
                                            ControlId::ID4D, ControlId::ID5D, ControlId::ID6D};
    fs::path folder, previous;
};

using ChunkList = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

TEST_F(Microcode, ChunksAreCutFromTheEndBackwards) {
    const struct {
        std::size_t size;
        ChunkList chunks;
    } rows[] = {
        {100000, {{67232, 32768}, {34464, 32768}, {1696, 32768}, {0, 1696}}},
        {32768, {{0, 32768}}},
        {32769, {{1, 32768}, {0, 1}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        sim_clear_bus();
        sim_add_adapter("SIMASPI", "MC", 8, 7);
        SimDiskConfig cfg;
        sim_disk_config_init(&cfg);
        sim_add_disk(0, 0, &cfg);
        ClearDriveTable();
        ui::Form().Reset();
        Drive(0, 0, "MCDRIVE0");
        const auto bytes = File("image.frm", row.size);
        ASSERT_TRUE(Load((folder / "image.frm").string()));
        EXPECT_EQ(microcodeLength, static_cast<std::int32_t>(row.size));
        EXPECT_EQ(MicroCodethread::Execute(), MicroCodethread::Outcome::Finished);
        EXPECT_EQ(Chunks(0), row.chunks);
        std::vector<std::uint8_t> image(row.size + 16);
        ASSERT_EQ(sim_disk_download_image(0, 0, image.data(), image.size()), row.size);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.begin()));
        EXPECT_EQ(ui::Form().Caption(ControlId::J0), "PASS");
        EXPECT_EQ(ui::Form().Position(ControlId::TBar), 1000);
    }
}

TEST_F(Microcode, TheLargestImageGoesInSixteenCommands) {
    Drive(0, 0, "MCDRIVE0");
    const auto bytes = File("full.frm", kMicrocodeCapacity);
    ASSERT_TRUE(Load("full.frm"));
    MicroCodethread::Execute();
    const auto chunks = Chunks(0);
    ASSERT_EQ(chunks.size(), 16u);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(chunks[i], std::make_pair(static_cast<std::uint32_t>(491520u - 32768u * i), 32768u));
    std::vector<std::uint8_t> image(kMicrocodeCapacity);
    ASSERT_EQ(sim_disk_download_image(0, 0, image.data(), image.size()), kMicrocodeCapacity);
    EXPECT_EQ(image, bytes);
}

TEST_F(Microcode, APassingDriveGetsItsMicrocodeLog) {
    Drive(0, 0, "MCDRIVE0");
    File("pass.frm", 1000);
    const std::string path = (folder / "pass.frm").string();
    ASSERT_TRUE(Load(path));
    MicroCodethread::Execute();
    const DriveSlot& s = DriveTable[0];
    const std::string expected = std::string("Start Time          : ") + s.startTime +
                                 "\r\nDrive ID            : 00\r\n"
                                 "Model Number        : HALCYON HX36LP          512 Bytes/Sct.\r\n"
                                 "Serial Number       : MCDRIVE0\r\n"
                                 "F/W Revision        : 0104\r\n"
                                 "\r\n<<< MicroCode DownLoad for CV-7 series >>>\r\n"
                                 "\r\n MicroCode : " + path + "\r\n"
                                 "\r\n"
                                 "       **********\r\n"
                                 "       *  PASS  *\r\n"
                                 "       **********\r\n"
                                 "\r\n"
                                 "Stop Time           : " + s.stopTime;
    EXPECT_EQ(Read("MCDRIVE0.log"), expected);
    EXPECT_EQ(std::strlen(s.startTime), 24u);
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::ID0));
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
    EXPECT_EQ(ui::Form().FontColor(ControlId::DCONF), ui::colors::kGreen);
    EXPECT_EQ(ui::Form().Caption(ControlId::PBarLabel), "100");
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::Button9));
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::TEST));
}

TEST_F(Microcode, AFailedChunkStopsTheDriveAndIsLogged) {
    Drive(0, 0, "MCFAIL00");
    File("fail.frm", 100000);
    ASSERT_TRUE(Load("fail.frm"));
    SimFault f = NextFault(0x3B);
    f.skip = 1;
    f.sense_key = 5;
    f.asc = 0x26;
    sim_add_fault(0, 0, &f);
    MicroCodethread::Execute();
    // The first chunk went; the failing second is recorded by the trace but
    // the last two were never sent.
    EXPECT_EQ(Chunks(0), (ChunkList{{67232, 32768}}));
    std::size_t writeBuffers = 0;
    for (const auto& e : Trace()) writeBuffers += e.cdb[0] == 0x3B;
    EXPECT_EQ(writeBuffers, 2u);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "FAIL");
    EXPECT_EQ(ui::Form().FontColor(ControlId::J0), ui::colors::kRed);
    const std::string log = Read("MCFAIL00.log");
    const DriveSlot& s = DriveTable[0];
    char sense[3][33];
    for (int row = 0; row < 3; ++row)
        for (int i = 0; i < 16; ++i) std::snprintf(sense[row] + 2 * i, 3, "%02X", s.senseData[16 * row + i]);
    const std::string failure = std::string("\r\n<<< Error: Write Buffer: Check Condition. >>>\r\n") + "         " +
                                sense[0] + "\r\n         " + sense[1] + "\r\n         " + sense[2] +
                                "\r\n             CDB=3B05000086A000800000\r\n"
                                "\r\n       **********\r\n       *  FAIL  *\r\n       **********\r\n\r\nStop Time";
    EXPECT_NE(log.find(failure), std::string::npos) << log;
    EXPECT_EQ(s.runFlags & kFlagFail, kFlagFail);
}

TEST_F(Microcode, ATransportFailureLogsItsMessageOnly) {
    Drive(0, 0, "MCTRANS0");
    File("t.frm", 10);
    ASSERT_TRUE(Load("t.frm"));
    SimFault f = NextFault(0x3B);
    f.ha_stat = 0x11;
    sim_add_fault(0, 0, &f);
    MicroCodethread::Execute();
    const std::string log = Read("MCTRANS0.log");
    EXPECT_NE(log.find("\r\n\r\n<<< Write Buffer: Selection timeout. >>>\r\n\r\n       **********\r\n       *  FAIL"),
              std::string::npos)
        << log;
}

TEST_F(Microcode, DrivesTheScanLeftFailedAreNotDownloaded) {
    Drive(0, 3, "", kNotIdentified);
    Drive(1, 4, "MCNOLOG0", kLogUnreadableAtScan, 255);
    Drive(2, 5, "MCCHECK0", kCheckCondition);
    File("m.frm", 500);
    ASSERT_TRUE(Load("m.frm"));
    EXPECT_EQ(MicroCodethread::Execute(), MicroCodethread::Outcome::Finished);

    EXPECT_EQ(sim_disk_download_chunk_count(0, 3), 0);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "------ ");
    EXPECT_EQ(ui::Form().FontColor(ControlId::J0), ui::colors::kMaroon);
    const std::string testLog = Read("HA#0ID03.log");
    EXPECT_EQ(testLog.find("MicroCode"), std::string::npos);  // the drive test log, not a microcode log
    EXPECT_NE(testLog.find("*  FAIL  *"), std::string::npos);

    // A maker's drive whose log was unreadable is downloaded like any other.
    EXPECT_EQ(sim_disk_download_chunk_count(0, 4), 1);
    EXPECT_EQ(ui::Form().Caption(ControlId::J1), "PASS");
    const std::string noSeries = Read("MCNOLOG0.log");
    EXPECT_EQ(noSeries.find("series"), std::string::npos);
    EXPECT_NE(noSeries.find("*  PASS  *"), std::string::npos);

    EXPECT_EQ(sim_disk_download_chunk_count(0, 5), 0);
    EXPECT_EQ(ui::Form().Caption(ControlId::J2), "FAIL");
}

TEST_F(Microcode, SeriesLinesAndAMissingIdentity) {
    const char* series[] = {"CV-4", "CV-5", "CV-6", "CV-7"};
    File("s.frm", 64);
    ASSERT_TRUE(Load("s.frm"));
    for (int layout = 1; layout <= 4; ++layout) {
        ClearDriveTable();
        sim_clear_faults();
        Drive(0, 0, "SERIES00", 0, layout);
        MicroCodethread::Execute();
        EXPECT_NE(Read("SERIES00.log").find(std::string("\r\n<<< MicroCode DownLoad for ") + series[layout - 1] +
                                            " series >>>\r\n"),
                  std::string::npos);
    }
    ClearDriveTable();
    Drive(0, 0, "NOINQ000");
    DriveTable[0].inquiryData[4] = 0;
    MicroCodethread::Execute();
    const std::string log = Read("NOINQ000.log");
    EXPECT_NE(log.find("Model Number        : Device name not available.\r\n"
                       "Serial Number       : NOINQ000\r\n"
                       "F/W Revision        : Device name not available.\r\n"),
              std::string::npos)
        << log;
}

TEST_F(Microcode, TwoDrivesShareTheTotalBar) {
    Drive(0, 0, "FIRST000");
    Drive(1, 2, "SECOND00");
    File("two.frm", 40000);
    ASSERT_TRUE(Load("two.frm"));
    // The first drive fails at once, so the bar has not moved when the
    // second drive begins.
    SimFault f = NextFault(0x3B);
    f.ha_stat = 0x11;
    sim_add_fault(0, 0, &f);
    ui::Form().SetProgress(ControlId::PBar, 999);  // so that the first drive's 0 is a change
    ui::Form().TakeChanges();
    std::vector<int> totals;
    ui::Form().SetChangeListener([&](bool) {
        for (const auto& u : ui::Form().TakeChanges().controls)
            if (u.id == ControlId::PBar) totals.push_back(u.state.position);
    });
    MicroCodethread::Execute();
    ui::Form().SetChangeListener(nullptr);
    // 0 for the first drive, 500 at the second drive's start, then two
    // chunks of 250 each.
    EXPECT_EQ(totals, (std::vector<int>{0, 500, 750, 1000}));
    EXPECT_EQ(Chunks(2), (ChunkList{{7232, 32768}, {0, 7232}}));
}

TEST_F(Microcode, NoDriveSelectedSendsNothing) {
    Drive(0, 0, "UNTICKED");
    ui::Form().Uncheck(ControlId::ID0D);
    File("n.frm", 100);
    ASSERT_TRUE(Load("n.frm"));
    sim_trace_clear();
    EXPECT_EQ(MicroCodethread::Execute(), MicroCodethread::Outcome::Finished);
    EXPECT_EQ(sim_trace_count(), 0u);
    EXPECT_EQ(selectedCount, 0);
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
    EXPECT_EQ(ui::Form().Position(ControlId::PBar), 1000);
    EXPECT_EQ(ui::Form().Position(ControlId::TBar), 1000);
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::Button9));
    EXPECT_FALSE(fs::exists("UNTICKED.log"));
}

TEST_F(Microcode, RefusedFilesLoadNothing) {
    File("big.frm", kMicrocodeCapacity + 1);
    EXPECT_FALSE(Load("big.frm"));
    EXPECT_EQ(microcodeLength, 0);
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "Microcode file is larger than 512 KB; nothing loaded.");

    File("empty.frm", 0);
    EXPECT_FALSE(Load("empty.frm"));
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "Microcode file is empty; nothing loaded.");

    EXPECT_FALSE(Load("no-such-file.frm"));
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "Microcode file cannot be opened; nothing loaded.");

    fs::create_directory("a-folder.frm");
    EXPECT_FALSE(Load("a-folder.frm"));
    EXPECT_EQ(microcodeLength, 0);

    ui::Form().SetFileChooser([](const ui::FileRequest&) { return std::optional<std::string>(); });
    EXPECT_FALSE(ui::LoadChosenMicrocode());

    // A good file afterwards loads and clears the warning.
    File("good.frm", 123);
    EXPECT_TRUE(Load("good.frm"));
    EXPECT_EQ(microcodeLength, 123);
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "");
}

TEST_F(Microcode, PathsOfAnyLengthAndTheDialogsStartFolder) {
    const fs::path deep = folder / std::string(80, 'd') / std::string(70, 'e');
    fs::create_directories(deep);
    const auto bytes = File((deep / "long-name-of-a-microcode-image.frm").string(), 4096);
    std::string initial;
    const std::string path = (deep / "long-name-of-a-microcode-image.frm").string();
    ui::Form().SetFileChooser([&](const ui::FileRequest& r) {
        initial = std::string(r.initialFolder);
        return std::optional<std::string>(path);
    });
    ASSERT_GT(path.size(), 150u);
    EXPECT_TRUE(ui::LoadChosenMicrocode());
    EXPECT_EQ(microcodeLength, 4096);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), microcodeImage));
    EXPECT_EQ(fs::path(initial), fs::current_path());
    EXPECT_EQ(ui::Form().OpenDialogFileName(), path);
}

TEST_F(Microcode, AnUnwritableLogShowsTheAlarmAndTheWorkerGoesOn) {
    Drive(0, 0, "BLOCKED0");
    Drive(1, 2, "WRITTEN0");
    File("w.frm", 10);
    ASSERT_TRUE(Load("w.frm"));
    fs::create_directory("BLOCKED0.log");  // a folder where the log should go
    EXPECT_EQ(MicroCodethread::Execute(), MicroCodethread::Outcome::Finished);
    EXPECT_EQ(ui::Form().Caption(ControlId::error), "Cannot open file BLOCKED0.log\r\n");
    EXPECT_TRUE(ui::Form().IsVisible(ControlId::ALARM));
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::OK));
    EXPECT_FALSE(ui::Form().IsEnabled(ControlId::ID0));
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::ID1));
    EXPECT_TRUE(fs::is_regular_file("WRITTEN0.log"));
}

}  // namespace
}  // namespace tamro::test
