#pragma once
// The main window's terminal on the primary port. It shows what the
// controller sends (folded into lines, captured to "TarnvaleOutput.txt") and
// sends the controller every key the operator types; nothing is echoed.
//
// The port is read when its descriptor becomes readable, not by a busy idle
// loop: with a silent port the program sleeps. The polling flag (switched by
// the command brackets) still decides whether the port is read at all, and
// while a modal dialog is open the terminal leaves the port alone, as other
// dialogs may be talking on it.

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "core/tools/CaptureFile.h"
#include "core/tools/TerminalKeyboard.h"
#include "core/tools/TerminalReceiver.h"
#include "core/tools/TerminalScreen.h"

namespace tarnvale {
class CommPort;
class ConfigData;
class LinkState;
class Operator;
}  // namespace tarnvale

namespace tarnvale::gui {

class CCoolEdit;

class CTerminalDialog : public QWidget, public TerminalScreen, public TerminalKeyboardSink {
  Q_OBJECT
 public:
  static constexpr std::size_t kReceiveBufferSize = 10240;
  // Selectors of the colour request.
  static constexpr int kBackgroundColour = 0;
  static constexpr int kTextColour = 1;

  CTerminalDialog(LinkState& link, ConfigData& settings, Operator& op, QWidget* parent = nullptr);
  ~CTerminalDialog() override;

  // Reads what the primary port holds (up to 10240 bytes) and shows it,
  // when the polling flag is on.
  void PollPort();
  // Folds bytes into the view and the capture file; for other dialogs too.
  void AppendReceived(const std::uint8_t* bytes, std::size_t count);
  void AppendReceived(const std::string& bytes) {
    AppendReceived(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }

  void SetPolling(bool on);
  bool IsPolling() const { return polling_; }
  // True from when the primary link was seen closed until it opened again.
  bool LinkLost() const { return linkLost_; }

  // Follows the primary port again after it was opened, closed or switched.
  void WatchPort();
  // Stops watching the port's descriptor (before the port is closed).
  void StopWatching();

  // Clear View: removes the text; the line being received is kept.
  void ClearView();
  // The colour request: selector 0 background, 1 text, others ignored.
  void SetColour(int selector, std::uint32_t colorRef);

  // Copy and Paste of the main window's accelerators.
  void Copy();
  void Paste();

  const std::string& CapturePath() const { return capturePath_; }
  bool IsCapturing() const { return capture_.IsOpen(); }
  CCoolEdit* Edit() const { return edit_; }
  TerminalKeyboard& Keyboard() { return keyboard_; }
  // Bytes waiting to be written at the typing pace.
  std::size_t PendingOutput() const { return output_.size(); }

  // TerminalScreen, over the edit control's document.
  std::size_t TextLength() const override;
  void DeleteLeadingLines(std::size_t lines) override;
  void ReplaceLastLine(std::string_view text, bool endLine) override;
  void Clear() override;

  // TerminalKeyboardSink.
  void SendByte(std::uint8_t byte) override;
  void ShowLastLine(const std::string& text) override;

 private:
  bool HandleKey(QKeyEvent* e);
  void OnReadable();
  void SendNextByte();
  void ApplyColours();
  void ScrollToEnd();
  CommPort* Port() const;

  LinkState& link_;
  ConfigData& settings_;
  Operator& op_;
  CCoolEdit* edit_;
  bool polling_ = true;
  std::uint32_t textColour_;
  std::uint32_t backgroundColour_;
  CaptureFile capture_;
  std::string capturePath_;
  TerminalReceiver receiver_;
  TerminalKeyboard keyboard_;
  std::unique_ptr<QSocketNotifier> notifier_;
  // Re-arms the notifier after a modal dialog closed or a dead link was seen.
  QTimer recheck_;
  // The primary link was closed by the other end: said in the status bar,
  // and the port is opened again (by its name) until it is back.
  bool linkLost_ = false;
  void FollowLostLink();
  // Every byte to the port goes through this queue, one per millisecond.
  std::deque<std::uint8_t> output_;
  QTimer outputTimer_;
};

}  // namespace tarnvale::gui
