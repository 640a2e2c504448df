// The bus scan: finds the disks on every host adapter and fills the drive
// table with every one of them; the window's rows hold the first seven.
#pragma once

#include <cstdint>

namespace tamro {

// The whole scan: 0 when it ran to its end, found drives or not; -1 when the
// binding or a host adapter inquiry failed, or the library kept every request
// block (message already in the window's error line, the `error` label).
// Once a stop was requested it throws CommandsStopped from its next command,
// for the caller to catch around it.
// WindowRows fills the window's seven rows and only counts the disks past
// them (drivesBeyondRows); EveryDrive probes every disk into the table.
enum class ScanReach { WindowRows, EveryDrive };
int ScanBuses(ScanReach reach = ScanReach::WindowRows);

// Vendor class and log layout of the drive at ha/id from its INQUIRY data,
// into the current slot. 0, or -1 for an unsupported drive or an unreadable log.
int IdentifyVendor(std::uint8_t ha, std::uint8_t id, const std::uint8_t* inquiry);

// Log layout generation from bytes 6-7 of the GetLog(10) data.
int LogLayoutOf(std::uint16_t generation);

// Vendor class from INQUIRY data: the first matching test wins.
int VendorClassOf(const std::uint8_t* inquiry);

}  // namespace tamro

namespace tamro {

// The scan worker: two scans in a row, the second decides, then the window
// shows the disclaimer's buttons or the failure.
class Startthread {
public:
    // Starts the worker at once; nobody keeps or waits for it. A stop
    // requested meanwhile ends it at its next command.
    static void Start();
    // The worker's body; throws CommandsStopped as ScanBuses does.
    static void Execute();
};

}  // namespace tamro
