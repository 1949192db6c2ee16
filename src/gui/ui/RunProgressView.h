#pragma once
// The picture of a long run in the desktop application, drawn from the one
// vocabulary of a run (core/jobs/RunEvents.h): a line with the phase and
// its count, a progress bar, the run's warnings below it, and "Stop".
//
// The run tells it its events on its own thread. They are queued for the
// GUI thread and shown there in batches, so a run never waits for the
// window (a busy window costs a run nothing). "Stop" calls what the owner
// set with SetStop (raising the run's token); the owner's dialog maps its
// Escape and close box to Stop() as well, and joins the run's thread before
// it goes. The Finished signal comes on the GUI thread once the run's
// Finished event has been shown.
//
// A dialog whose own controls are fixed (a bar with its own range, fields
// and a list of its own) keeps them: UseBar puts the dialog's bar in place
// of the view's, filled on the dialog's own range; ShowPhaseLine(false) leaves
// the phase line to the dialog's fields; and Post carries the dialog's own
// texts from the run's thread through the same queue, so they are shown in
// order with the run's events and the run never waits for them either.
#include <QWidget>
#include <functional>
#include <mutex>
#include <vector>

#include "core/jobs/RunEvents.h"

class QHBoxLayout;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tarnvale::gui {

class RunProgressView : public QWidget, public RunSink {
  Q_OBJECT

 public:
  explicit RunProgressView(QWidget* parent = nullptr);

  // What "Stop" does (on the GUI thread).
  void SetStop(std::function<void()> stop) { stop_ = std::move(stop); }
  // A run begins: the view is cleared and "Stop" is on.
  void Begin();
  // The person stops the run (the "Stop" button, or the owner's Escape and
  // close box); once per run.
  void Stop();
  bool Running() const { return running_; }
  // The phase line ("Settings: 3 of 9"); an owner may put a text of its
  // own there once the run is over.
  QString Text() const;
  void SetText(const QString& text);
  QStringList Warnings() const;

  // RunSink: from any thread.
  void OnEvent(const RunEvent& event) override;

  // Draws the run on `bar`, which the view takes into its row in place of
  // its own. The bar keeps the range its owner gives it (a dump's 0 to
  // 1000, a read-back's percent, the packets of a programming run): the
  // view shows the share of the Total done on that range. Before a Total
  // the bar stays as its owner set it.
  void UseBar(QProgressBar* bar);
  void ShowPhaseLine(bool visible);
  // From any thread: `call` runs on the GUI thread after the events told
  // before it and before those told after it.
  void Post(std::function<void()> call);
  // On the GUI thread: shows what is queued now (a dialog collecting its
  // run's thread shows its last events before it goes on).
  void Flush() { ShowQueued(); }
  // True while a batch of queued events is being shown.
  bool Showing() const { return showing_; }
  // "Stop", for a dialog that lets it take clicks while it holds back others.
  QPushButton* StopButton() const { return stopButton_; }

 signals:
  void Finished(int code);
  // After each batch of queued events has been shown.
  void BatchShown();

 private:
  struct Queued {
    RunEvent event;
    std::function<void()> call;  // the owner's, instead of the event
  };
  void Queue(Queued item);
  void ShowQueued();
  void Show(const RunEvent& event);
  void ShowCount();

  std::function<void()> stop_;
  bool running_ = false;
  bool stopAsked_ = false;
  std::string phase_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  std::mutex mutex_;
  std::vector<Queued> queued_;  // under mutex_
  bool showing_ = false;
  bool ownBar_ = true;  // the view's own bar rather than its owner's
  QLabel* text_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QHBoxLayout* row_ = nullptr;
  QListWidget* warnings_ = nullptr;
  QPushButton* stopButton_ = nullptr;
};

}  // namespace tarnvale::gui
