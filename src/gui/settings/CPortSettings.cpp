#include "gui/settings/CPortSettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/settings/CIPAddressCtrl.h"
#include "gui/ui/Mnemonics.h"
#include "gui/ui/TitleFit.h"
#include "core/settings/ConfigData.h"

namespace tarnvale::gui {
namespace {

struct Entry {
  QString text;
  QString name;  // what is stored: the device path, or "TCP/IP"
};

// Selects the entry whose text is `text`; false (nothing selected) otherwise.
bool SelectText(QComboBox* box, const QString& text) {
  const int i = box->findText(text, Qt::MatchExactly);
  box->setCurrentIndex(i);
  return i >= 0;
}

QComboBox* MakeList(QWidget* parent, const char* name, const QStringList& items) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QString::fromLatin1(name));
  box->addItems(items);
  return box;
}

}  // namespace

QString CPortSettings::TitleFor(PortRole role) {
  return role == PortRole::Primary ? QStringLiteral("Primary Port")
                                   : QStringLiteral("Universal Programmer Port");
}

const QStringList& CPortSettings::BaudRates() {
  static const QStringList rates = [] {
    QStringList list;
    for (const std::uint32_t rate : kBaudRates) list << QString::number(rate);
    return list;
  }();
  return rates;
}

CPortSettings::CPortSettings(ConfigData& settings, PortRole role, QWidget* parent,
                             PortLister lister)
    : QDialog(parent), settings_(settings), role_(role) {
  setWindowTitle(TitleFor(role));
  port_ = MakeList(this, "portList", {});
  baud_ = MakeList(this, "baudList", BaudRates());
  parity_ = MakeList(this, "parityList", {"NONE", "ODD", "EVEN"});
  stopBits_ = MakeList(this, "stopBitsList", {"1", "1.5", "2"});
  dataBits_ = MakeList(this, "dataBitsList", {"7", "8"});
  // Wide enough for a device path with its description.
  port_->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("/dev/ttyUSB0  (Serial port)")));
  // A device the scan does not find (a pty, a /dev/serial/by-id/ link) is
  // typed in. What is typed is kept as it is: no item is added to the list
  // and no completion changes it behind the person's back.
  port_->setEditable(true);
  port_->setInsertPolicy(QComboBox::NoInsert);
  port_->setCompleter(nullptr);
  ip_ = new CIPAddressCtrl(this);
  ip_->setObjectName(QStringLiteral("ipAddress"));

  auto* form = new QFormLayout;
  form->setLabelAlignment(Qt::AlignRight);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->addRow(tr("Port:"), port_);
  form->addRow(tr("BaudRate:"), baud_);
  form->addRow(tr("Parity:"), parity_);
  form->addRow(tr("StopBits:"), stopBits_);
  form->addRow(tr("Data Bits:"), dataBits_);
  form->addRow(tr("IP Address:"), ip_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CPortSettings::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CPortSettings::reject);
  GiveMnemonics(buttons);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addSpacing(6);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  FitToTitle(this);

  const bool primary = role == PortRole::Primary;
  const std::uint32_t baud = primary ? settings.GetBaudRate() : settings.GetAuxBaudRate();
  const int parity = primary ? settings.GetParity() : settings.GetAuxParity();
  const int stop = primary ? settings.GetStopBits() : settings.GetAuxStopBits();
  const int byteSize = primary ? settings.GetByteSize() : settings.GetAuxByteSize();

  // Codes the lists cannot show leave the list unselected; OK then keeps
  // the stored code instead of inventing one.
  parity_->setCurrentIndex(parity < parity_->count() ? parity : -1);
  stopBits_->setCurrentIndex(stop < stopBits_->count() ? stop : -1);
  SelectText(dataBits_, QString::number(byteSize));

  std::vector<PortInfo> ports;
  if (lister) {
    ports = lister();
  } else {
    CommPort::EnumeratePorts(ports);
  }
  FillPorts(ports, primary ? settings.GetCOMPort() : settings.GetAuxCOMPort());

  ip_->SetAddress(ParseIpAddress(settings.GetIPAddress(), &ipRest_));

  // A rate outside the list is still shown, so OK does not lose it.
  if (!SelectText(baud_, QString::number(baud))) {
    baud_->addItem(QString::number(baud));
    baud_->setCurrentIndex(baud_->count() - 1);
  }

  connect(port_, &QComboBox::currentTextChanged, this, &CPortSettings::ApplyTcpIpRule);
  ApplyTcpIpRule();
}

void CPortSettings::FillPorts(const std::vector<PortInfo>& ports, const std::string& stored) {
  std::vector<Entry> entries;
  for (const PortInfo& p : ports) {
    const QString name = QString::fromStdString(p.name);
    const QString text =
        p.description.empty() ? name : name + "  (" + QString::fromStdString(p.description) + ")";
    entries.push_back({text, name});
  }
  entries.push_back({QString::fromLatin1(kTcpIpPortName), QString::fromLatin1(kTcpIpPortName)});

  const QString storedName = QString::fromStdString(stored);
  const QString storedPath = QString::fromStdString(CommPort::DevicePathFor(stored));
  auto matches = [&](const Entry& e) {
    return e.name == storedName || (!storedPath.isEmpty() && e.name == storedPath) ||
           e.text.startsWith(storedName, Qt::CaseInsensitive);
  };
  // A stored port that is not (or no longer) present stays in the list: OK
  // must not turn it into an empty name.
  if (!storedName.isEmpty() && std::none_of(entries.begin(), entries.end(), matches)) {
    entries.push_back({storedName, storedName});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return QString::compare(a.text, b.text, Qt::CaseInsensitive) < 0;
  });
  for (const Entry& e : entries) port_->addItem(e.text, e.name);

  // The exact name first, then the first entry that begins with it.
  int index = -1;
  for (int i = 0; i < port_->count() && index < 0; ++i) {
    const QString name = port_->itemData(i).toString();
    if (name == storedName || (!storedPath.isEmpty() && name == storedPath)) index = i;
  }
  for (int i = 0; i < port_->count() && index < 0 && !storedName.isEmpty(); ++i) {
    if (port_->itemText(i).startsWith(storedName, Qt::CaseInsensitive)) index = i;
  }
  port_->setCurrentIndex(index);
}

QString CPortSettings::PortName() const {
  // A listed entry stands for its device path; anything else is the name
  // typed, without the blanks around it.
  const QString text = port_->currentText().trimmed();
  const int i = port_->findText(text, Qt::MatchExactly);
  return i >= 0 ? port_->itemData(i).toString() : text;
}

void CPortSettings::ApplyTcpIpRule() {
  const bool tcp = PortName() == QLatin1String(kTcpIpPortName);
  baud_->setEnabled(!tcp);
  parity_->setEnabled(!tcp);
  stopBits_->setEnabled(!tcp);
  dataBits_->setEnabled(!tcp);
  ip_->setEnabled(tcp);
}

void CPortSettings::accept() {
  const bool primary = role_ == PortRole::Primary;
  // Disabled lists still deliver their selections. An empty port keeps the
  // stored one rather than storing no port at all.
  if (const std::string name = PortName().toStdString(); !name.empty()) {
    primary ? settings_.SetCOMPort(name) : settings_.SetAuxCOMPort(name);
  }
  if (baud_->currentIndex() >= 0) {
    const std::uint32_t baud = baud_->currentText().toUInt();
    primary ? settings_.SetBaudRate(baud) : settings_.SetAuxBaudRate(baud);
  }
  if (dataBits_->currentIndex() >= 0) {
    const auto bits = static_cast<std::uint8_t>(dataBits_->currentText().toUInt());
    primary ? settings_.SetByteSize(bits) : settings_.SetAuxByteSize(bits);
  }
  if (parity_->currentIndex() >= 0) {
    const auto code = static_cast<std::uint8_t>(parity_->currentIndex());
    primary ? settings_.SetParity(code) : settings_.SetAuxParity(code);
  }
  if (stopBits_->currentIndex() >= 0) {
    const auto code = static_cast<std::uint8_t>(stopBits_->currentIndex());
    primary ? settings_.SetStopBits(code) : settings_.SetAuxStopBits(code);
  }
  settings_.SetIPAddress(FormatIpAddress(ip_->Address()) + ipRest_);
  QDialog::accept();
}

}  // namespace tarnvale::gui
