#pragma once
// An IPv4 address as four fields of 0 to 255, shown as one edit box.
#include <QFrame>
#include <QLineEdit>
#include <array>

namespace tarnvale::gui {

class CIPAddressCtrl : public QFrame {
  Q_OBJECT
 public:
  explicit CIPAddressCtrl(QWidget* parent = nullptr);

  void SetAddress(const std::array<int, 4>& fields);
  // Empty fields read as 0; every field is within 0..255.
  std::array<int, 4> Address() const;
  QLineEdit* Field(int i) const { return fields_[static_cast<std::size_t>(i)]; }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  std::array<QLineEdit*, 4> fields_{};
};

// Reads "%d.%d.%d.%d": a number that cannot be read, and every one after it,
// is 0; numbers are held to 0..255. `rest` receives what follows the fourth
// number (a ":port" kept for links on another TCP port).
std::array<int, 4> ParseIpAddress(const std::string& text, std::string* rest = nullptr);
std::string FormatIpAddress(const std::array<int, 4>& fields);

}  // namespace tarnvale::gui
