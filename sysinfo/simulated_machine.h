// A described machine (disks, partitions, volumes) that answers the device requests with the same raw
// bytes Windows would: used by the tests and by the sandbox build in place of the real devices.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sysinfo/device_io.h"

struct SimPartition {
  int64_t startingOffset = 0;
  int64_t length = 0;
  uint32_t partitionNumber = 0;  // 0 for empty slots and extended containers
  uint8_t partitionType = 0x07;
  bool bootIndicator = false;
};

struct SimDisk {
  bool layoutFails = false;          // the layout request answers failure
  uint32_t style = 0;                // 0 MBR, 1 GPT
  std::vector<SimPartition> entries; // in layout order, as Windows lists them
  uint32_t signature = 0;            // MBR disk signature reported in the layout
  bool signatureGiven = false;       // machine.ini named it (else the parser gives the disk's default)
  int64_t size = 0;                  // disk length; 0: the end of the partition that ends last
  bool lengthFails = false;          // the length request answers failure
};

struct SimVolume {
  wchar_t letter = 0;
  UINT driveType = DRIVE_FIXED;
  int disk = -1;                     // disk number of its first extent
  int64_t startingOffset = 0;        // the partition it lies on
  int extents = 1;                   // more than one makes the 32-byte extents request fail
  bool openFails = false;            // "\\.\X:" cannot be opened
  bool extentsFail = false;
  bool partitionInfoFails = false;
  bool bootIndicator = false;
  uint32_t style = 0;                // partition style reported for the volume
  std::wstring deviceName;           // "\Device\HarddiskVolume1"; empty: not found by QueryDosDevice
  std::wstring guidPath;             // "\\?\Volume{...}\"; generated when empty
  std::string oem = "NTFS    ";      // OEM name of its boot sector (offset 3); "-FVE-FS-" when encrypted
  bool bootSectorFails = false;      // reading its first sector fails
};

// How the sandbox answers for an external command line holding a text (compared without case).
struct CommandFault {
  std::wstring text;
  bool startFails = false;           // the process cannot be started
  uint32_t exitCode = 0;             // else it ends with this code
};
// How the system's restart command fares on the described machine: it works, the system has no shutdown
// tool (Windows 2000), or the command fails.
enum class RestartTool { Works, Missing, Fails };

struct MachineDescription {
  std::vector<SimDisk> disks;        // PhysicalDrive0, 1, ...; the first missing number ends probing
  std::vector<SimVolume> volumes;
  bool uefi = false;                 // firmware type, for callers that ask
  std::vector<CommandFault> commandFaults;  // in file order; the first that matches a command line applies
  uint64_t memoryBytes = 0;          // physical memory; 0: the system's own
  RestartTool restartTool = RestartTool::Works;  // how the restart command fares
  bool onlyWin2000Requests = false;  // the layout, partition and length requests of XP and later fail
};

// The fault of the first entry whose text a command line holds; null for none.
const CommandFault* FaultForCommand(const MachineDescription& m, const std::wstring& commandLine);

// Parses the text of a machine description (machine.ini, see docs/sandbox.md). Answers false with a
// message naming the line when the text is malformed.
bool ParseMachineDescription(const std::wstring& text, MachineDescription& out, std::wstring& error);

class SimulatedMachine : public IDeviceIo {
 public:
  explicit SimulatedMachine(MachineDescription m);
  const MachineDescription& Description() const { return m_; }

  std::unique_ptr<IDevice> Open(const std::wstring& deviceName) override;
  UINT DriveType(const std::wstring& root) override;
  VolumeEnumeration EnumerateVolumes() override;
  bool QueryDosDeviceName(const std::wstring& name, std::wstring& target) override;
  bool VolumePathNames(const std::wstring& volumeGuidPath, std::vector<wchar_t>& multiSz) override;
  bool FirmwareIsUefi() override { return m_.uefi; }
  bool PhysicalMemoryBytes(uint64_t& bytes) override;
  // The first sector of a volume as the machine describes it (OEM name at 3, 55AA at 510).
  static std::vector<uint8_t> BootSectorBytes(const SimVolume& v, size_t size);

  // Raw output bytes of the requests, as Windows would fill them.
  static std::vector<uint8_t> LayoutBytes(const SimDisk& disk, size_t bufferSize);
  // The length the disk reports: its size, or the end of the partition that ends last.
  static int64_t DiskLength(const SimDisk& disk);
  static std::vector<uint8_t> ExtentsBytes(const SimVolume& v);
  static std::vector<uint8_t> PartitionInfoBytes(const SimVolume& v);
  // The Windows 2000 forms: DRIVE_LAYOUT_INFORMATION and PARTITION_INFORMATION (length: the partition's).
  static std::vector<uint8_t> LegacyLayoutBytes(const SimDisk& disk, size_t bufferSize);
  static std::vector<uint8_t> LegacyPartitionInfoBytes(const SimVolume& v, int64_t length);

 private:
  MachineDescription m_;
  const SimVolume* VolumeByLetter(wchar_t letter) const;
};

// Installs a simulated machine as the device access for as long as it lives.
class ScopedSimulatedMachine {
 public:
  explicit ScopedSimulatedMachine(MachineDescription m) : machine_(std::move(m)) { SetDeviceIo(&machine_); }
  ~ScopedSimulatedMachine() { SetDeviceIo(nullptr); }
  SimulatedMachine& Machine() { return machine_; }

 private:
  SimulatedMachine machine_;
};
