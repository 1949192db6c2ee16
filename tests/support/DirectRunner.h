#pragma once
// A JobRunner for tests: runs the programming and read-back models on the
// calling thread's terms with views that only remember what they were told.
#include <mutex>
#include <string>
#include <vector>

#include "core/flash/LoadMemoryModel.h"
#include "core/flash/MemoryDump.h"
#include "core/flash/Workflows.h"
#include "support/QuietLoadView.h"

namespace tarnvale::test {

// The system's tick without its sleeps: a run that pauses between packets
// goes on at once (the acknowledgements still pace it).
class NoSleepClock : public Clock {
 public:
  std::uint32_t TickMs() const override { return SystemClock().TickMs(); }
  void SleepMs(std::uint32_t) const override {}
};

class DirectRunner : public JobRunner {
 public:
  // `clock` paces the programming run (the per-packet pause of the PIC18F252).
  explicit DirectRunner(Operator& op, const Clock& clock = SystemClock()) : op_(op), clock_(clock) {}

  ResultCode RunProgramming(const ProgrammingRequest& request) override {
    ++programmingRuns;
    LoadView view(*this);
    LoadMemoryModel model(request, view, op_, clock_);
    model.Open();
    if (model.Begin()) model.Wait();
    if (model.WorkerRunning()) ++workersLeft;
    return model.Result();
  }
  ResultCode RunMemoryRead(const MemoryReadRequest& request) override {
    ++readRuns;
    ReadView view(*this);
    MemoryReadModel model(request, view, op_);
    model.Open();
    model.Tick();
    model.Wait();
    return model.Result();
  }

  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    return texts_;
  }
  int programmingRuns = 0;
  int workersLeft = 0;  // programming runs whose worker still ran after the wait
  int readRuns = 0;

 private:
  void Add(const std::string& t) {
    std::lock_guard lock(mutex_);
    texts_.push_back(t);
  }
  class LoadView : public QuietLoadView {
   public:
    explicit LoadView(DirectRunner& r) : r_(r) {}
    void SetStatus(const std::string& t) override { r_.Add(t); }
    void SetFreeText(const std::string& t) override { r_.Add(t); }

   private:
    DirectRunner& r_;
  };
  class ReadView : public MemoryReadView {
   public:
    explicit ReadView(DirectRunner& r) : r_(r) {}
    void AddListText(const std::string& t) override { r_.Add(t); }
    void SetField1(const std::string& t) override { r_.Add(t); }
    void SetField2(const std::string& t) override {
      if (t.find("Checksum") != std::string::npos) r_.Add(t);
    }
    void SetProgressRange(std::uint32_t) override {}
    void SetProgressStep(std::uint32_t) override {}
    void SetProgress(std::uint32_t) override {}
    void EnableOk(bool) override {}
    void EnableRetry(bool) override {}
    void ShowRetry(bool) override {}
    void Close() override {}

   private:
    DirectRunner& r_;
  };

  Operator& op_;
  const Clock& clock_;
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};

}  // namespace tarnvale::test
