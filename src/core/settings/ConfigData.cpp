#include "core/settings/ConfigData.h"

#include <filesystem>
#include <system_error>

#include "core/platform/SettingsFile.h"

namespace tarnvale {
namespace {

constexpr RegistryRoot kRoot = RegistryRoot::CurrentUser;
using namespace settings_key;

void ReadStr(const char* key, const char* name, std::string& field) {
  CRegistry::ReadString(kRoot, key, name, field);
}

// A port name: text. A value that is missing or empty (an unreadable file,
// a deleted line) quietly takes the default; a number where the name belongs
// takes it too, and says so, since someone wrote it there.
void ReadPortName(const char* name, const char* fallback, std::string& field,
                  std::vector<std::string>& notes) {
  if (CRegistry::ReadString(kRoot, kPort, name, field) && !field.empty()) return;
  field = fallback;
  std::uint32_t number = 0;
  if (CRegistry::ReadDWORD(kRoot, kPort, name, number)) {
    notes.push_back(std::string(name) + " holds the number " + std::to_string(number) +
                    ", not a port name: using " + fallback);
  }
}

template <typename T>
bool ReadNum(const char* key, const char* name, T& field) {
  std::uint32_t v = 0;
  if (!CRegistry::ReadDWORD(kRoot, key, name, v)) return false;
  field = static_cast<T>(v);  // 8-bit fields take the low byte
  return true;
}

}  // namespace

ConfigData::ConfigData() = default;

void ConfigData::Load() {
  using namespace settings_default;
  if (!CRegistry::KeyExists(kRoot, kPort)) {
    CRegistry::WriteString(kRoot, kPort, "COMPort", kCOMPort);
    CRegistry::WriteString(kRoot, kPort, "AuxCOMPort", kAuxCOMPort);
    CRegistry::WriteString(kRoot, kPort, "IPAddress", kIPAddress);
    CRegistry::WriteDWORD(kRoot, kPort, "StopBits", 0);
    CRegistry::WriteDWORD(kRoot, kPort, "Parity", 0);
    CRegistry::WriteDWORD(kRoot, kPort, "ByteSize", 8);
    CRegistry::WriteDWORD(kRoot, kPort, "AuxStopBits", 0);
    CRegistry::WriteDWORD(kRoot, kPort, "AuxParity", 0);
    CRegistry::WriteDWORD(kRoot, kPort, "AuxByteSize", 8);
    CRegistry::WriteDWORD(kRoot, kPort, "BaudRate", kBaudRate);
    CRegistry::WriteDWORD(kRoot, kPort, "AuxBaudRate", kAuxBaudRate);
    CRegistry::WriteDWORD(kRoot, kPort, "UseIPAddress", 0);
  }
  if (!CRegistry::KeyExists(kRoot, kWindow)) {
    CRegistry::WriteDWORD(kRoot, kWindow, "ForeGroundTextColor", kForeGroundTextColor);
    CRegistry::WriteDWORD(kRoot, kWindow, "BackGroundTextColor", kBackGroundTextColor);
  }
  if (!CRegistry::KeyExists(kRoot, kProduction)) {
    CRegistry::WriteString(kRoot, kProduction, "TN835 Application Path", kTN835ApplicationPath);
    CRegistry::WriteString(kRoot, kProduction, "TN835 Application File", kTN835ApplicationFile);
    CRegistry::WriteString(kRoot, kProduction, "TN835 Boot Path And File", kTN835BootPathAndFile);
    CRegistry::WriteString(kRoot, kProduction, "TN835 Test Path And File", kTN835TestPathAndFile);
    CRegistry::WriteString(kRoot, kProduction, "User Temp Path", platform::SystemTempPath());
  }
  std::string probe;
  if (!CRegistry::ReadString(kRoot, kProduction, "User Temp Path", probe)) {
    CRegistry::WriteString(kRoot, kProduction, "User Temp Path", platform::SystemTempPath());
  }

  loadNotes_.clear();
  ReadPortName("COMPort", kCOMPort, comPort_, loadNotes_);
  ReadPortName("AuxCOMPort", kAuxCOMPort, auxComPort_, loadNotes_);
  ReadStr(kPort, "IPAddress", ipAddress_);
  ReadNum(kPort, "StopBits", stopBits_);
  ReadNum(kPort, "Parity", parity_);
  ReadNum(kPort, "ByteSize", byteSize_);
  if (!ReadNum(kPort, "AuxStopBits", auxStopBits_)) auxStopBits_ = 0;
  if (!ReadNum(kPort, "AuxParity", auxParity_)) auxParity_ = 0;
  if (!ReadNum(kPort, "AuxByteSize", auxByteSize_)) auxByteSize_ = 8;
  ReadNum(kPort, "BaudRate", baudRate_);
  ReadNum(kPort, "AuxBaudRate", auxBaudRate_);
  std::uint32_t useIp = 0;
  if (ReadNum(kPort, "UseIPAddress", useIp)) useIPAddress_ = useIp != 0;
  ReadNum(kWindow, "ForeGroundTextColor", foreGroundTextColor_);
  ReadNum(kWindow, "BackGroundTextColor", backGroundTextColor_);
  ReadStr(kProduction, "TN835 Application Path", tn835ApplicationPath_);
  ReadStr(kProduction, "TN835 Application File", tn835ApplicationFile_);
  ReadStr(kProduction, "TN835 Boot Path And File", tn835BootPathAndFile_);
  ReadStr(kProduction, "TN835 Test Path And File", tn835TestPathAndFile_);
  const bool haveTemp = CRegistry::ReadString(kRoot, kProduction, "User Temp Path", userTempPath_);

  // The folder of the error log must exist; the working directory is left
  // alone (the front ends hand the folder to their Operator).
  if (haveTemp && !userTempPath_.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(userTempPath_, ec);  // failing: the log is lost, nothing else
  }
}

void ConfigData::Save() {
  CRegistry::WriteDWORD(kRoot, kPort, "StopBits", stopBits_);
  CRegistry::WriteDWORD(kRoot, kPort, "Parity", parity_);
  CRegistry::WriteDWORD(kRoot, kPort, "ByteSize", byteSize_);
  CRegistry::WriteDWORD(kRoot, kPort, "AuxStopBits", auxStopBits_);
  CRegistry::WriteDWORD(kRoot, kPort, "AuxParity", auxParity_);
  CRegistry::WriteDWORD(kRoot, kPort, "AuxByteSize", auxByteSize_);
  CRegistry::WriteDWORD(kRoot, kPort, "BaudRate", baudRate_);
  CRegistry::WriteDWORD(kRoot, kPort, "AuxBaudRate", auxBaudRate_);
  CRegistry::WriteDWORD(kRoot, kWindow, "ForeGroundTextColor", foreGroundTextColor_);
  CRegistry::WriteDWORD(kRoot, kWindow, "BackGroundTextColor", backGroundTextColor_);
  CRegistry::WriteString(kRoot, kPort, "COMPort", comPort_);
  CRegistry::WriteString(kRoot, kPort, "AuxCOMPort", auxComPort_);
  CRegistry::WriteString(kRoot, kPort, "IPAddress", ipAddress_);
  CRegistry::WriteString(kRoot, kProduction, "TN835 Application Path", tn835ApplicationPath_);
  CRegistry::WriteString(kRoot, kProduction, "TN835 Boot Path And File", tn835BootPathAndFile_);
  CRegistry::WriteString(kRoot, kProduction, "TN835 Test Path And File", tn835TestPathAndFile_);
  CRegistry::WriteString(kRoot, kProduction, "User Temp Path", userTempPath_);
}

PortParams ConfigData::PrimaryPortParams() const {
  return {comPort_ == kTcpIpPortName ? ipAddress_ : comPort_, baudRate_, parity_, byteSize_,
          stopBits_};
}

PortParams ConfigData::ProgrammerPortParams() const {
  return {auxComPort_ == kTcpIpPortName ? ipAddress_ : auxComPort_, auxBaudRate_, auxParity_,
          auxByteSize_, auxStopBits_};
}

}  // namespace tarnvale
