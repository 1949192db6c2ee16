#pragma once
// The port settings of one role (primary port or Universal Programmer port)
// and the shared IP address. OK stores into the settings record in memory
// only; reopening the port and saving are the caller's business. The port
// list offers the devices found and takes any other device typed in.

#include <QDialog>
#include <functional>
#include <vector>

#include "core/link/CommPort.h"
#include "core/roles/PortRoles.h"

class QComboBox;

namespace tarnvale {
class ConfigData;
}

namespace tarnvale::gui {

class CIPAddressCtrl;

class CPortSettings : public QDialog {
  Q_OBJECT
 public:
  using PortLister = std::function<std::vector<PortInfo>()>;

  // `lister` supplies the serial devices (CommPort::EnumeratePorts when empty).
  CPortSettings(ConfigData& settings, PortRole role, QWidget* parent = nullptr,
                PortLister lister = {});

  static QString TitleFor(PortRole role);
  static const QStringList& BaudRates();

  QComboBox* PortList() const { return port_; }
  QComboBox* BaudList() const { return baud_; }
  QComboBox* ParityList() const { return parity_; }
  QComboBox* StopBitsList() const { return stopBits_; }
  QComboBox* DataBitsList() const { return dataBits_; }
  CIPAddressCtrl* IpAddress() const { return ip_; }

  // The port OK stores: the device path of the listed entry shown, or the
  // text typed.
  QString PortName() const;

  void accept() override;

 private:
  void FillPorts(const std::vector<PortInfo>& ports, const std::string& stored);
  void ApplyTcpIpRule();

  ConfigData& settings_;
  PortRole role_;
  QComboBox* port_;
  QComboBox* baud_;
  QComboBox* parity_;
  QComboBox* stopBits_;
  QComboBox* dataBits_;
  CIPAddressCtrl* ip_;
  std::string ipRest_;  // ":port" after the stored address, kept as it was
};

}  // namespace tarnvale::gui
