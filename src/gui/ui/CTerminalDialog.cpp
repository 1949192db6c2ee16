#include "gui/ui/CTerminalDialog.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <array>
#include <optional>

#include "core/roles/PortRoles.h"
#include "core/settings/ConfigData.h"
#include "gui/ui/CCoolEdit.h"
#include "gui/ui/Colors.h"
#include "core/operator/Operator.h"

namespace tarnvale::gui {
namespace {

// How soon a notifier put to sleep is armed again: while a modal dialog owns
// the screen, and after a wake-up that brought no bytes (a peer that went
// away keeps its descriptor readable).
constexpr int kModalRecheckMs = 50;
constexpr int kDeadLinkRecheckMs = 500;
constexpr int kLostLinkRetryMs = 1000;
// The typing pace: one byte, then this pause.
constexpr int kBytePaceMs = 1;

// The character a key press types, as the controller should receive it.
std::optional<std::uint8_t> CharFor(const QKeyEvent* e) {
  const Qt::KeyboardModifiers mods = e->modifiers();
  if (mods & (Qt::AltModifier | Qt::MetaModifier)) return std::nullopt;  // menu keys
  switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab: return 9;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Delete: return std::nullopt;  // acts on the text locally
    default: break;
  }
  if ((mods & Qt::ControlModifier) && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z) {
    return static_cast<std::uint8_t>(e->key() - Qt::Key_A + 1);
  }
  const QString text = e->text();
  if (text.isEmpty()) return std::nullopt;
  const char16_t ch = text.front().unicode();
  if (ch < 0x20 || ch == 0x7F) return std::nullopt;
  return ch <= 0xFF ? static_cast<std::uint8_t>(ch) : static_cast<std::uint8_t>('?');
}

}  // namespace

CTerminalDialog::CTerminalDialog(LinkState& link, ConfigData& settings, Operator& op,
                                 QWidget* parent)
    : QWidget(parent),
      link_(link),
      settings_(settings),
      op_(op),
      edit_(new CCoolEdit(this)),
      textColour_(settings.GetForeGroundTextColor()),
      backgroundColour_(settings.GetBackGroundTextColor()),
      receiver_(*this),
      keyboard_(*this) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit_);
  edit_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusProxy(edit_);

  capturePath_ = CaptureFile::DefaultPath();
  if (!capturePath_.empty() && !capture_.Create(capturePath_)) op_.ShowMessage(capture_.ErrorText());
  receiver_.SetCapture(&capture_);

  ApplyColours();
  edit_->SetKeyHandler([this](QKeyEvent* e) { return HandleKey(e); });
  edit_->SetPasteHandler([this](const QString& text) {
    // The clipboard of the desktop ends lines with LF; the controller, like
    // the terminal's Enter key, expects CR LF.
    QString t = text;
    t.replace("\r\n", "\n").replace('\n', "\r\n");
    for (QChar c : t) SendByte(c.unicode() <= 0xFF ? static_cast<std::uint8_t>(c.unicode()) : '?');
  });

  outputTimer_.setTimerType(Qt::PreciseTimer);
  connect(&outputTimer_, &QTimer::timeout, this, &CTerminalDialog::SendNextByte);
  recheck_.setSingleShot(true);
  connect(&recheck_, &QTimer::timeout, this, &CTerminalDialog::WatchPort);
  WatchPort();
}

CTerminalDialog::~CTerminalDialog() {
  notifier_.reset();
  capture_.Close();
}

CommPort* CTerminalDialog::Port() const { return link_.PrimaryPort(); }

void CTerminalDialog::FollowLostLink() {
  CommPort* port = Port();
  if (!linkLost_ || port == nullptr) return;
  if (port->IsOpen() && port->LinkLost()) port->Close();
  if (!port->IsOpen() && !link_.ReopenPort(PortRole::Primary)) return;  // still away
  if (port->LinkLost()) return;
  linkLost_ = false;
  op_.SetStatus("Link back: " + link_.PrimaryPortName());
}

void CTerminalDialog::WatchPort() {
  notifier_.reset();
  recheck_.stop();
  if (!polling_) return;
  FollowLostLink();
  CommPort* port = Port();
  if (port == nullptr || !port->IsOpen() || port->Descriptor() < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(port->Descriptor(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &CTerminalDialog::OnReadable);
}

void CTerminalDialog::StopWatching() {
  notifier_.reset();
  recheck_.stop();
}

void CTerminalDialog::SetPolling(bool on) {
  polling_ = on;
  if (on) {
    WatchPort();
  } else {
    StopWatching();
    // A command takes the port: unsent typing must not slip into its packets.
    output_.clear();
    outputTimer_.stop();
  }
}

void CTerminalDialog::OnReadable() {
  if (!notifier_) return;
  if (QApplication::activeModalWidget() != nullptr) {
    notifier_->setEnabled(false);
    recheck_.start(kModalRecheckMs);
    return;
  }
  CommPort* port = Port();
  if (port == nullptr || !port->IsOpen() || port->Descriptor() != notifier_->socket()) {
    WatchPort();
    return;
  }
  std::array<std::uint8_t, kReceiveBufferSize> buffer;
  const std::size_t n = port->Read(buffer.data(), buffer.size());
  if (n == 0) {
    notifier_->setEnabled(false);
    // Readable with nothing to read: a look without waiting tells whether
    // the other end has gone.
    if (!linkLost_ && !port->LinkLost()) port->WaitReadable(0);
    if (!linkLost_ && port->LinkLost()) {
      linkLost_ = true;
      op_.SetStatus("Link lost: " + link_.PrimaryPortName() + " was closed by the other end; opened again when it is back");
    }
    recheck_.start(linkLost_ ? kLostLinkRetryMs : kDeadLinkRecheckMs);
    return;
  }
  AppendReceived(buffer.data(), n);
}

void CTerminalDialog::PollPort() {
  if (!polling_) return;
  CommPort* port = Port();
  if (port == nullptr) return;
  std::array<std::uint8_t, kReceiveBufferSize> buffer;
  const std::size_t n = port->Read(buffer.data(), buffer.size());
  if (n > 0) AppendReceived(buffer.data(), n);
}

void CTerminalDialog::AppendReceived(const std::uint8_t* bytes, std::size_t count) {
  edit_->SetInputEnabled(false);
  receiver_.Append(bytes, count);
  edit_->SetInputEnabled(true);
  ScrollToEnd();
}

void CTerminalDialog::ScrollToEnd() {
  QTextCursor c = edit_->textCursor();
  c.movePosition(QTextCursor::End);
  edit_->setTextCursor(c);
  edit_->ensureCursorVisible();
}

std::size_t CTerminalDialog::TextLength() const {
  return static_cast<std::size_t>(edit_->document()->characterCount() - 1);
}

void CTerminalDialog::DeleteLeadingLines(std::size_t lines) {
  QTextDocument* doc = edit_->document();
  QTextCursor c(doc);
  const QTextBlock block = doc->findBlockByNumber(static_cast<int>(lines));
  if (block.isValid()) {
    c.setPosition(block.position(), QTextCursor::KeepAnchor);
  } else {
    c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  }
  c.removeSelectedText();
}

void CTerminalDialog::ReplaceLastLine(std::string_view text, bool endLine) {
  QTextCursor c(edit_->document());
  c.movePosition(QTextCursor::End);
  c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  if (endLine) s += QChar('\n');
  c.insertText(s);
}

void CTerminalDialog::Clear() { edit_->clear(); }

void CTerminalDialog::ClearView() { Clear(); }

void CTerminalDialog::SetColour(int selector, std::uint32_t colorRef) {
  if (selector == kBackgroundColour) {
    backgroundColour_ = colorRef;
  } else if (selector == kTextColour) {
    textColour_ = colorRef;
  } else {
    return;
  }
  ApplyColours();
}

void CTerminalDialog::ApplyColours() {
  QPalette p = edit_->palette();
  p.setColor(QPalette::Base, FromColorRef(backgroundColour_));
  p.setColor(QPalette::Text, FromColorRef(textColour_));
  edit_->setPalette(p);
  edit_->viewport()->update();
}

void CTerminalDialog::Copy() {
  if (polling_) edit_->copy();
}

void CTerminalDialog::Paste() {
  if (polling_) edit_->PasteToPort();
}

bool CTerminalDialog::HandleKey(QKeyEvent* e) {
  const bool ctrl = (e->modifiers() & Qt::ControlModifier) != 0;
  TerminalKey key = TerminalKey::Other;
  switch (e->key()) {
    case Qt::Key_Up: key = ctrl ? TerminalKey::CtrlUp : TerminalKey::Up; break;
    case Qt::Key_Down: key = ctrl ? TerminalKey::CtrlDown : TerminalKey::Down; break;
    case Qt::Key_Backspace: key = TerminalKey::Backspace; break;
    default: break;
  }
  if (keyboard_.KeyDown(key)) return true;
  if (const auto c = CharFor(e)) {
    keyboard_.Char(*c);
    return true;
  }
  return false;
}

void CTerminalDialog::SendByte(std::uint8_t byte) {
  output_.push_back(byte);
  if (!outputTimer_.isActive()) SendNextByte();
}

void CTerminalDialog::SendNextByte() {
  if (output_.empty()) {
    outputTimer_.stop();
    return;
  }
  if (QApplication::activeModalWidget() != nullptr) {
    // Another dialog may be using the port; the rest of a paste waits.
    outputTimer_.start(kModalRecheckMs);
    return;
  }
  const std::uint8_t b = output_.front();
  output_.pop_front();
  if (CommPort* port = Port()) port->WriteByte(b);
  outputTimer_.start(kBytePaceMs);
}

void CTerminalDialog::ShowLastLine(const std::string& text) {
  ReplaceLastLine(text, false);
  ScrollToEnd();
}

}  // namespace tarnvale::gui
