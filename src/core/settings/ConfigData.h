#pragma once
// The one settings record of a run: read once at start-up, written back
// whenever the operator changes a setting (port setup, colours), never at exit.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/settings/CRegistry.h"

namespace tarnvale {

namespace settings_key {
inline constexpr const char* kPort = "SOFTWARE\\Quor Controls\\Tarnvale\\Port Settings";
inline constexpr const char* kWindow = "SOFTWARE\\Quor Controls\\Tarnvale\\Window Settings";
inline constexpr const char* kProduction =
    "SOFTWARE\\Quor Controls\\Tarnvale\\New Production Settings";
}  // namespace settings_key

namespace settings_default {
inline constexpr const char* kIPAddress = "10.10.10.91";
inline constexpr std::uint32_t kBaudRate = 115200;
inline constexpr std::uint32_t kAuxBaudRate = 921600;
inline constexpr const char* kCOMPort = "COM1";
inline constexpr const char* kAuxCOMPort = "COM7";
inline constexpr const char* kTN835ApplicationPath =
    "\\\\QUORPROD\\quor_data\\Production\\TN835\\Application\\Current\\";
inline constexpr const char* kTN835ApplicationFile = "TN835 Appl.elf.S";
inline constexpr const char* kTN835BootPathAndFile =
    "\\\\QUORPROD\\quor_data\\Production\\TN835\\Boot\\Current\\TN835 Boot.elf.S";
inline constexpr const char* kTN835TestPathAndFile =
    "\\\\QUORPROD\\quor_data\\Production\\TN835\\Test\\Current\\";
inline constexpr std::uint32_t kBackGroundTextColor = 0xFFFFFF;
inline constexpr std::uint32_t kForeGroundTextColor = 0;
}  // namespace settings_default

// The baud rates a port may be set to, fastest first (the port dialog's list).
inline constexpr std::array<std::uint32_t, 17> kBaudRates = {
    921600, 460800, 230400, 115200, 57600, 38400, 28800, 19200, 14400,
    9600,   7200,   4800,   2400,   1800,   1200,  600,   300};

// The five values a port opens with, in their travelling order.
struct PortParams {
  std::string name;
  std::uint32_t baudRate = 0;
  std::uint8_t parity = 0;
  std::uint8_t byteSize = 8;
  std::uint8_t stopBits = 0;
};

class ConfigData {
 public:
  ConfigData();
  virtual ~ConfigData() = default;

  // Fills the record, writing first-run defaults where a key is missing,
  // and creates the user temp folder (the error log's) when it is missing.
  // The working directory is not changed.
  void Load();
  // What Load had to put right, one sentence each, for the front end to say
  // once ("COMPort holds the number 5, not a port name: using COM1").
  const std::vector<std::string>& LoadNotes() const { return loadNotes_; }
  // Writes the record back (not "UseIPAddress" nor the application file name).
  void Save();

  bool GetUseIPAddress() const { return useIPAddress_; }
  std::string GetIPAddress() const { return ipAddress_; }
  std::uint32_t GetBaudRate() const { return baudRate_; }
  std::uint32_t GetAuxBaudRate() const { return auxBaudRate_; }
  std::uint8_t GetStopBits() const { return stopBits_; }
  std::uint8_t GetParity() const { return parity_; }
  std::uint8_t GetByteSize() const { return byteSize_; }
  std::uint8_t GetAuxStopBits() const { return auxStopBits_; }
  std::uint8_t GetAuxParity() const { return auxParity_; }
  std::uint8_t GetAuxByteSize() const { return auxByteSize_; }
  std::string GetCOMPort() const { return comPort_; }
  std::string GetAuxCOMPort() const { return auxComPort_; }
  std::string GetTN835ApplicationPath() const { return tn835ApplicationPath_; }
  std::string GetTN835ApplicationFile() const { return tn835ApplicationFile_; }
  std::string GetTN835BootPathAndFile() const { return tn835BootPathAndFile_; }
  std::string GetTN835TestPathAndFile() const { return tn835TestPathAndFile_; }
  std::string GetUserTempPath() const { return userTempPath_; }
  std::uint32_t GetBackGroundTextColor() const { return backGroundTextColor_; }
  std::uint32_t GetForeGroundTextColor() const { return foreGroundTextColor_; }

  void SetIPAddress(const std::string& v) { ipAddress_ = v; }
  void SetBaudRate(std::uint32_t v) { baudRate_ = v; }
  void SetAuxBaudRate(std::uint32_t v) { auxBaudRate_ = v; }
  void SetStopBits(std::uint8_t v) { stopBits_ = v; }
  void SetParity(std::uint8_t v) { parity_ = v; }
  void SetByteSize(std::uint8_t v) { byteSize_ = v; }
  void SetAuxStopBits(std::uint8_t v) { auxStopBits_ = v; }
  void SetAuxParity(std::uint8_t v) { auxParity_ = v; }
  void SetAuxByteSize(std::uint8_t v) { auxByteSize_ = v; }
  void SetCOMPort(const std::string& v) { comPort_ = v; }
  void SetAuxCOMPort(const std::string& v) { auxComPort_ = v; }
  void SetBackGroundTextColor(std::uint32_t v) { backGroundTextColor_ = v; }
  void SetForeGroundTextColor(std::uint32_t v) { foreGroundTextColor_ = v; }

  // The primary role's values: "COMPort" ("TCP/IP" means the IP address).
  PortParams PrimaryPortParams() const;
  // The programmer role's values: "AuxCOMPort" ("TCP/IP" means the IP address).
  PortParams ProgrammerPortParams() const;

 private:
  bool useIPAddress_ = false;
  std::string ipAddress_;
  std::uint32_t baudRate_ = settings_default::kBaudRate;
  std::uint32_t auxBaudRate_ = settings_default::kAuxBaudRate;
  std::uint8_t stopBits_ = 0;
  std::uint8_t parity_ = 0;
  std::uint8_t byteSize_ = 8;
  std::uint8_t auxStopBits_ = 0;
  std::uint8_t auxParity_ = 0;
  std::uint8_t auxByteSize_ = 8;
  std::string comPort_;
  std::string auxComPort_;
  CRegistry registry_;
  std::string tn835ApplicationPath_;
  std::string tn835ApplicationFile_;
  std::string tn835BootPathAndFile_;
  std::string tn835TestPathAndFile_;
  std::string userTempPath_;
  std::uint32_t backGroundTextColor_ = settings_default::kBackGroundTextColor;
  std::uint32_t foreGroundTextColor_ = settings_default::kForeGroundTextColor;
  std::vector<std::string> loadNotes_;
};

// The text a port list shows for the TCP/IP choice.
inline constexpr const char* kTcpIpPortName = "TCP/IP";

}  // namespace tarnvale
