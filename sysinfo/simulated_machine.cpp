#include "sysinfo/simulated_machine.h"

#include <winioctl.h>

#include <cstring>
#include <cwctype>
#include <sstream>

#include "base/text_format.h"

namespace {

template <typename T>
void WriteAt(std::vector<uint8_t>& b, size_t offset, T v) {
  std::memcpy(b.data() + offset, &v, sizeof(T));
}

class SimDevice : public IDevice {
 public:
  SimDevice(const SimDisk* disk, const SimVolume* volume, const MachineDescription* machine = nullptr,
            int diskNumber = -1)
      : disk_(disk), volume_(volume), machine_(machine), diskNumber_(diskNumber) {}
  bool Request(DWORD code, void* out, DWORD outSize) override {
    std::vector<uint8_t> bytes;
    if (!Answer(code, outSize, bytes)) return false;
    std::memset(out, 0, outSize);
    std::memcpy(out, bytes.data(), bytes.size() < outSize ? bytes.size() : outSize);
    return true;
  }
  // A volume's first sector, read through the volume at 0 or through its disk at the volume's offset; every
  // other byte reads as zero.
  bool ReadAt(int64_t offset, void* out, DWORD size) override {
    if (size == 0 || size % 512 != 0 || offset < 0 || offset % 512 != 0) return false;
    const SimVolume* v = volume_;
    if (disk_ != nullptr && machine_ != nullptr) {
      v = nullptr;
      for (const SimVolume& candidate : machine_->volumes) {
        if (candidate.disk == diskNumber_ && candidate.startingOffset == offset) v = &candidate;
      }
      offset = v != nullptr ? 0 : 512;  // no volume starts there: plain zeros
    }
    std::memset(out, 0, size);
    if (v == nullptr || offset != 0) return true;
    if (v->bootSectorFails) return false;
    std::vector<uint8_t> sector = SimulatedMachine::BootSectorBytes(*v, size);
    std::memcpy(out, sector.data(), size);
    return true;
  }

 private:
  bool Answer(DWORD code, DWORD outSize, std::vector<uint8_t>& bytes) {
    if (machine_ != nullptr && machine_->onlyWin2000Requests &&
        (code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX || code == IOCTL_DISK_GET_PARTITION_INFO_EX ||
         code == IOCTL_DISK_GET_LENGTH_INFO))
      return false;  // ERROR_INVALID_FUNCTION
    if (disk_ && code == IOCTL_DISK_GET_DRIVE_LAYOUT) {
      if (disk_->layoutFails || disk_->style != 0) return false;
      size_t needed = 8 + 32 * (disk_->entries.empty() ? 1 : disk_->entries.size());
      if (needed > outSize) return false;
      bytes = SimulatedMachine::LegacyLayoutBytes(*disk_, outSize);
      return true;
    }
    if (volume_ && code == IOCTL_DISK_GET_PARTITION_INFO) {
      if (volume_->partitionInfoFails || volume_->style != 0 || outSize < 32) return false;
      bytes = SimulatedMachine::LegacyPartitionInfoBytes(*volume_, VolumeLength());
      return true;
    }
    if (disk_ && code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX) {
      if (disk_->layoutFails) return false;
      size_t needed = 48 + 144 * (disk_->entries.empty() ? 1 : disk_->entries.size());
      if (needed > outSize) return false;  // ERROR_INSUFFICIENT_BUFFER
      bytes = SimulatedMachine::LayoutBytes(*disk_, outSize);
      return true;
    }
    if (disk_ && code == IOCTL_DISK_GET_LENGTH_INFO) {
      if (disk_->lengthFails || outSize < 8) return false;
      bytes.resize(8);
      WriteAt<int64_t>(bytes, 0, SimulatedMachine::DiskLength(*disk_));
      return true;
    }
    if (volume_ && code == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) {
      if (volume_->extentsFail || volume_->extents > 1 || outSize < 32) return false;
      bytes = SimulatedMachine::ExtentsBytes(*volume_);
      return true;
    }
    if (volume_ && code == IOCTL_DISK_GET_PARTITION_INFO_EX) {
      if (volume_->partitionInfoFails || outSize < 144) return false;
      bytes = SimulatedMachine::PartitionInfoBytes(*volume_);
      return true;
    }
    return false;
  }

  // The length of the partition a volume lies on, as its disk lists it; 0 when not listed.
  int64_t VolumeLength() const {
    if (machine_ == nullptr || volume_->disk < 0 || static_cast<size_t>(volume_->disk) >= machine_->disks.size())
      return 0;
    for (const SimPartition& p : machine_->disks[volume_->disk].entries) {
      if (p.partitionNumber != 0 && p.startingOffset == volume_->startingOffset) return p.length;
    }
    return 0;
  }

  const SimDisk* disk_;
  const SimVolume* volume_;
  const MachineDescription* machine_;
  int diskNumber_;
};

// A number with an optional K, M, G or T suffix (binary multiples).
bool ParseSize(const std::wstring& text, int64_t& out) {
  std::wstring t = Trim(text);
  if (t.empty()) return false;
  int64_t mult = 1;
  wchar_t last = static_cast<wchar_t>(towupper(t.back()));
  if (last == L'K' || last == L'M' || last == L'G' || last == L'T') {
    mult = last == L'K' ? 1LL << 10 : last == L'M' ? 1LL << 20 : last == L'G' ? 1LL << 30 : 1LL << 40;
    t.pop_back();
  }
  if (t.empty()) return false;
  int64_t v = 0;
  for (wchar_t c : t) {
    if (c < L'0' || c > L'9') return false;
    v = v * 10 + (c - L'0');
  }
  out = v * mult;
  return true;
}

std::vector<std::wstring> SplitComma(const std::wstring& s) {
  std::vector<std::wstring> parts;
  std::wstring cur;
  for (wchar_t c : s) {
    if (c == L',') {
      parts.push_back(Trim(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(Trim(cur));
  return parts;
}

bool ParseDriveType(const std::wstring& v, UINT& type) {
  static const struct { const wchar_t* name; UINT type; } kTypes[] = {
      {L"fixed", DRIVE_FIXED}, {L"removable", DRIVE_REMOVABLE}, {L"cdrom", DRIVE_CDROM},
      {L"remote", DRIVE_REMOTE}, {L"ramdisk", DRIVE_RAMDISK}, {L"none", DRIVE_NO_ROOT_DIR}};
  for (const auto& t : kTypes) {
    if (v == t.name) {
      type = t.type;
      return true;
    }
  }
  return false;
}

bool ParseOkFail(const std::wstring& v, bool& fails) {
  if (v == L"ok") { fails = false; return true; }
  if (v == L"fail") { fails = true; return true; }
  return false;
}

bool ParseStyle(const std::wstring& v, uint32_t& style) {
  if (v == L"mbr") { style = 0; return true; }
  if (v == L"gpt") { style = 1; return true; }
  return false;
}

bool ParseEntry(const std::wstring& value, SimPartition& p) {
  auto f = SplitComma(value);
  if (f.size() < 3) return false;
  int64_t number = 0;
  if (!ParseSize(f[0], p.startingOffset) || !ParseSize(f[1], p.length) || !ParseSize(f[2], number))
    return false;
  p.partitionNumber = static_cast<uint32_t>(number);
  for (size_t i = 3; i < f.size(); ++i) {
    std::wstring x = Lower(f[i]);
    if (x == L"active") {
      p.bootIndicator = true;
    } else if (!x.empty()) {
      wchar_t* end = nullptr;
      unsigned long t = wcstoul(x.c_str(), &end, 16);
      if (end == x.c_str() || *end != L'\0' || t > 0xFF) return false;
      p.partitionType = static_cast<uint8_t>(t);
    }
  }
  return true;
}

struct Section {
  enum Kind { None, Machine, Disk, Volume, Commands } kind = None;
  size_t index = 0;
};

bool ApplyMachineKey(MachineDescription& m, const std::wstring& key, const std::wstring& v) {
  if (key == L"memory") {
    int64_t bytes = 0;
    if (!ParseSize(v, bytes) || bytes <= 0) return false;
    m.memoryBytes = static_cast<uint64_t>(bytes);
    return true;
  }
  if (key == L"shutdown") {
    if (v == L"ok") { m.restartTool = RestartTool::Works; return true; }
    if (v == L"missing") { m.restartTool = RestartTool::Missing; return true; }
    if (v == L"fails") { m.restartTool = RestartTool::Fails; return true; }
    return false;
  }
  if (key == L"ioctl") {
    if (v == L"ex") { m.onlyWin2000Requests = false; return true; }
    if (v == L"win2000") { m.onlyWin2000Requests = true; return true; }
    return false;
  }
  if (key != L"firmware") return false;
  if (v == L"bios") { m.uefi = false; return true; }
  if (v == L"uefi") { m.uefi = true; return true; }
  return false;
}

// Exactly eight hexadecimal digits, as the identity file writes a signature.
bool ParseSignature(const std::wstring& v, uint32_t& out) {
  if (v.size() != 8) return false;
  uint32_t n = 0;
  for (wchar_t c : v) {
    int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'a' && c <= L'f' ? c - L'a' + 10 : -1;
    if (digit < 0) return false;
    n = (n << 4) | static_cast<uint32_t>(digit);
  }
  out = n;
  return true;
}

bool ApplyDiskKey(SimDisk& d, const std::wstring& key, const std::wstring& v) {
  if (key == L"layout") return ParseOkFail(v, d.layoutFails);
  if (key == L"signature") return d.signatureGiven = ParseSignature(v, d.signature);
  if (key == L"size") return ParseSize(v, d.size) && d.size > 0;
  if (key == L"lengthquery") return ParseOkFail(v, d.lengthFails);
  if (key == L"style") return ParseStyle(v, d.style);
  if (key == L"entry") {
    SimPartition p;
    if (!ParseEntry(v, p)) return false;
    d.entries.push_back(p);
    return true;
  }
  return false;
}

bool ApplyVolumeKey(SimVolume& vol, const std::wstring& key, const std::wstring& v, const std::wstring& raw) {
  int64_t n = 0;
  if (key == L"type") return ParseDriveType(v, vol.driveType);
  if (key == L"disk") { if (!ParseSize(v, n)) return false; vol.disk = static_cast<int>(n); return true; }
  if (key == L"offset") return ParseSize(v, vol.startingOffset);
  if (key == L"extents") { if (!ParseSize(v, n)) return false; vol.extents = static_cast<int>(n); return true; }
  if (key == L"open") return ParseOkFail(v, vol.openFails);
  if (key == L"extentsquery") return ParseOkFail(v, vol.extentsFail);
  if (key == L"partinfo") return ParseOkFail(v, vol.partitionInfoFails);
  if (key == L"boot") { vol.bootIndicator = v == L"1"; return v == L"0" || v == L"1"; }
  if (key == L"style") return ParseStyle(v, vol.style);
  if (key == L"device") { vol.deviceName = raw; return true; }
  if (key == L"guid") { vol.guidPath = raw; return true; }
  if (key == L"oem") {
    // Eight characters of the boot sector's OEM name, padded with blanks.
    if (raw.empty() || raw.size() > 8) return false;
    vol.oem.assign(8, ' ');
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] < 0x20 || raw[i] > 0x7E) return false;
      vol.oem[i] = static_cast<char>(raw[i]);
    }
    return true;
  }
  if (key == L"bootsector") return ParseOkFail(v, vol.bootSectorFails);
  return false;
}

// "fail = TEXT" or "exit = CODE, TEXT" (the text from the raw value, case kept).
bool ApplyCommandKey(MachineDescription& m, const std::wstring& key, const std::wstring& raw) {
  CommandFault fault;
  if (key == L"fail") {
    fault.startFails = true;
    fault.text = raw;
  } else if (key == L"exit") {
    size_t comma = raw.find(L',');
    if (comma == std::wstring::npos) return false;
    int64_t code = 0;
    if (!ParseSize(raw.substr(0, comma), code) || code > 0xFFFFFFFFLL) return false;
    fault.exitCode = static_cast<uint32_t>(code);
    fault.text = Trim(raw.substr(comma + 1));
  } else {
    return false;
  }
  if (fault.text.empty()) return false;
  m.commandFaults.push_back(fault);
  return true;
}

bool OpenSection(const std::wstring& name, MachineDescription& m, Section& s) {
  std::wstring n = Lower(Trim(name));
  if (n == L"machine") { s = {Section::Machine, 0}; return true; }
  if (n == L"commands") { s = {Section::Commands, 0}; return true; }
  if (n.compare(0, 4, L"disk") == 0 && n.size() > 4) {
    int64_t idx = 0;
    if (!ParseSize(n.substr(4), idx) || idx > 99) return false;
    if (static_cast<size_t>(idx) != m.disks.size()) return false;  // disks are numbered in order
    m.disks.emplace_back();
    s = {Section::Disk, static_cast<size_t>(idx)};
    return true;
  }
  if (n.compare(0, 7, L"volume ") == 0) {
    std::wstring letter = Trim(n.substr(7));
    if (letter.size() != 1 || letter[0] < L'a' || letter[0] > L'z') return false;
    SimVolume v;
    v.letter = static_cast<wchar_t>(towupper(letter[0]));
    m.volumes.push_back(v);
    s = {Section::Volume, m.volumes.size() - 1};
    return true;
  }
  return false;
}

// A disk without a signature line gets 5A1E00nn, nn its number plus one (disk0: 5A1E0001).
void FillDiskDefaults(MachineDescription& m) {
  for (size_t n = 0; n < m.disks.size(); ++n) {
    if (!m.disks[n].signatureGiven) m.disks[n].signature = 0x5A1E0000u + static_cast<uint32_t>(n + 1);
  }
}

// Boot flag and style of a volume default to those of the partition it lies on.
void FillVolumeDefaults(MachineDescription& m) {
  for (SimVolume& v : m.volumes) {
    if (v.guidPath.empty()) v.guidPath = Format(L"\\\\?\\Volume{5a1e0000-0000-0000-0000-0000000000%02x}\\", v.letter);
    if (v.disk < 0 || static_cast<size_t>(v.disk) >= m.disks.size()) continue;
    const SimDisk& d = m.disks[v.disk];
    if (v.style == 0) v.style = d.style;
    for (const SimPartition& p : d.entries) {
      if (p.partitionNumber != 0 && p.startingOffset == v.startingOffset && p.bootIndicator)
        v.bootIndicator = true;
    }
  }
}

}  // namespace

bool ParseMachineDescription(const std::wstring& text, MachineDescription& out, std::wstring& error) {
  MachineDescription m;
  Section section;
  std::wistringstream lines(text);
  std::wstring line;
  int lineNo = 0;
  while (std::getline(lines, line)) {
    ++lineNo;
    size_t comment = line.find_first_of(L";#");
    std::wstring t = Trim(comment == std::wstring::npos ? line : line.substr(0, comment));
    if (!t.empty() && t[0] == 0xFEFF) t = Trim(t.substr(1));
    if (t.empty()) continue;
    bool ok = false;
    if (t.front() == L'[' && t.back() == L']') {
      ok = OpenSection(t.substr(1, t.size() - 2), m, section);
    } else if (size_t eq = t.find(L'='); eq != std::wstring::npos) {
      std::wstring key = Lower(Trim(t.substr(0, eq)));
      std::wstring raw = Trim(t.substr(eq + 1));
      std::wstring v = Lower(raw);
      if (section.kind == Section::Machine) ok = ApplyMachineKey(m, key, v);
      if (section.kind == Section::Disk) ok = ApplyDiskKey(m.disks[section.index], key, v);
      if (section.kind == Section::Volume) ok = ApplyVolumeKey(m.volumes[section.index], key, v, raw);
      if (section.kind == Section::Commands) ok = ApplyCommandKey(m, key, raw);
    }
    if (!ok) {
      error = Format(L"machine description, line %d: cannot read \"%s\"", lineNo, t.c_str());
      return false;
    }
  }
  FillDiskDefaults(m);
  FillVolumeDefaults(m);
  out = std::move(m);
  return true;
}

const CommandFault* FaultForCommand(const MachineDescription& m, const std::wstring& commandLine) {
  std::wstring line = Lower(commandLine);
  for (const CommandFault& fault : m.commandFaults) {
    if (line.find(Lower(fault.text)) != std::wstring::npos) return &fault;
  }
  return nullptr;
}

SimulatedMachine::SimulatedMachine(MachineDescription m) : m_(std::move(m)) {}

const SimVolume* SimulatedMachine::VolumeByLetter(wchar_t letter) const {
  for (const SimVolume& v : m_.volumes) {
    if (towupper(v.letter) == towupper(letter)) return &v;
  }
  return nullptr;
}

std::unique_ptr<IDevice> SimulatedMachine::Open(const std::wstring& deviceName) {
  const std::wstring drivePrefix = L"\\\\.\\PhysicalDrive";
  if (deviceName.compare(0, drivePrefix.size(), drivePrefix) == 0) {
    int64_t n = -1;
    if (!ParseSize(deviceName.substr(drivePrefix.size()), n)) return nullptr;
    if (n < 0 || static_cast<size_t>(n) >= m_.disks.size()) return nullptr;
    return std::make_unique<SimDevice>(&m_.disks[n], nullptr, &m_, static_cast<int>(n));
  }
  // "\\.\X:"
  if (deviceName.size() == 6 && deviceName.compare(0, 4, L"\\\\.\\") == 0 && deviceName[5] == L':') {
    const SimVolume* v = VolumeByLetter(deviceName[4]);
    if (v == nullptr || v->openFails) return nullptr;
    return std::make_unique<SimDevice>(nullptr, v, &m_);
  }
  return nullptr;
}

UINT SimulatedMachine::DriveType(const std::wstring& root) {
  if (root.empty()) return DRIVE_NO_ROOT_DIR;
  const SimVolume* v = VolumeByLetter(root[0]);
  return v ? v->driveType : DRIVE_NO_ROOT_DIR;
}

VolumeEnumeration SimulatedMachine::EnumerateVolumes() {
  VolumeEnumeration e;
  e.started = !m_.volumes.empty();
  e.startError = e.started ? 0 : ERROR_NO_MORE_FILES;
  for (const SimVolume& v : m_.volumes) e.names.push_back(v.guidPath);
  return e;
}

bool SimulatedMachine::QueryDosDeviceName(const std::wstring& name, std::wstring& target) {
  for (const SimVolume& v : m_.volumes) {
    if (v.guidPath.size() > 5 && v.guidPath.substr(4, v.guidPath.size() - 5) == name) {
      if (v.deviceName.empty()) return false;
      target = v.deviceName;
      return true;
    }
  }
  return false;
}

bool SimulatedMachine::VolumePathNames(const std::wstring& volumeGuidPath, std::vector<wchar_t>& multiSz) {
  multiSz.clear();
  for (const SimVolume& v : m_.volumes) {
    if (v.guidPath != volumeGuidPath) continue;
    const wchar_t path[] = {v.letter, L':', L'\\', L'\0'};
    multiSz.insert(multiSz.end(), path, path + 4);
  }
  multiSz.push_back(L'\0');
  return true;
}

std::vector<uint8_t> SimulatedMachine::LayoutBytes(const SimDisk& disk, size_t bufferSize) {
  std::vector<uint8_t> b(bufferSize, 0);
  WriteAt<uint32_t>(b, 0, disk.style);
  WriteAt<uint32_t>(b, 4, static_cast<uint32_t>(disk.entries.size()));
  if (disk.style == 0) WriteAt<uint32_t>(b, 8, disk.signature);
  for (size_t i = 0; i < disk.entries.size(); ++i) {
    size_t e = 48 + i * 144;
    if (e + 144 > bufferSize) break;
    const SimPartition& p = disk.entries[i];
    WriteAt<uint32_t>(b, e + 0, disk.style);
    WriteAt<int64_t>(b, e + 8, p.startingOffset);
    WriteAt<int64_t>(b, e + 16, p.length);
    WriteAt<uint32_t>(b, e + 24, p.partitionNumber);
    if (disk.style == 0) {
      b[e + 32] = p.partitionType;
      b[e + 33] = p.bootIndicator ? 1 : 0;
      b[e + 34] = 1;
    }
  }
  return b;
}

std::vector<uint8_t> SimulatedMachine::LegacyLayoutBytes(const SimDisk& disk, size_t bufferSize) {
  std::vector<uint8_t> b(bufferSize, 0);
  WriteAt<uint32_t>(b, 0, static_cast<uint32_t>(disk.entries.size()));
  WriteAt<uint32_t>(b, 4, disk.signature);
  for (size_t i = 0; i < disk.entries.size(); ++i) {
    size_t e = 8 + i * 32;
    if (e + 32 > bufferSize) break;
    const SimPartition& p = disk.entries[i];
    WriteAt<int64_t>(b, e + 0, p.startingOffset);
    WriteAt<int64_t>(b, e + 8, p.length);
    WriteAt<uint32_t>(b, e + 16, static_cast<uint32_t>(p.startingOffset / 512));
    WriteAt<uint32_t>(b, e + 20, p.partitionNumber);
    b[e + 24] = p.partitionType;
    b[e + 25] = p.bootIndicator ? 1 : 0;
    b[e + 26] = p.partitionNumber != 0 ? 1 : 0;
  }
  return b;
}

std::vector<uint8_t> SimulatedMachine::LegacyPartitionInfoBytes(const SimVolume& v, int64_t length) {
  std::vector<uint8_t> b(32, 0);
  WriteAt<int64_t>(b, 0, v.startingOffset);
  WriteAt<int64_t>(b, 8, length);
  WriteAt<uint32_t>(b, 16, static_cast<uint32_t>(v.startingOffset / 512));
  b[24] = 0x07;
  b[25] = v.bootIndicator ? 1 : 0;
  b[26] = 1;
  return b;
}

int64_t SimulatedMachine::DiskLength(const SimDisk& disk) {
  if (disk.size > 0) return disk.size;
  int64_t end = 0;
  for (const SimPartition& p : disk.entries) {
    if (p.startingOffset + p.length > end) end = p.startingOffset + p.length;
  }
  return end;
}

std::vector<uint8_t> SimulatedMachine::ExtentsBytes(const SimVolume& v) {
  std::vector<uint8_t> b(32, 0);
  WriteAt<uint32_t>(b, 0, 1);
  WriteAt<uint32_t>(b, 8, static_cast<uint32_t>(v.disk));
  WriteAt<int64_t>(b, 16, v.startingOffset);
  return b;
}

std::vector<uint8_t> SimulatedMachine::PartitionInfoBytes(const SimVolume& v) {
  std::vector<uint8_t> b(144, 0);
  WriteAt<uint32_t>(b, 0, v.style);
  WriteAt<int64_t>(b, 8, v.startingOffset);
  if (v.style == 0) {
    b[32] = 0x07;
    b[33] = v.bootIndicator ? 1 : 0;
    b[34] = 1;
  }
  return b;
}

bool SimulatedMachine::PhysicalMemoryBytes(uint64_t& bytes) {
  if (m_.memoryBytes == 0) return SystemPhysicalMemoryBytes(bytes);
  bytes = m_.memoryBytes;
  return true;
}

std::vector<uint8_t> SimulatedMachine::BootSectorBytes(const SimVolume& v, size_t size) {
  std::vector<uint8_t> b(size < 512 ? 512 : size, 0);
  b[0] = 0xEB;
  b[1] = 0x52;
  b[2] = 0x90;
  std::memcpy(b.data() + 3, v.oem.data(), v.oem.size() < 8 ? v.oem.size() : 8);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}
