#pragma once
// "TN835 Production Programming": a thin view over ProductionModel. The
// buttons take the edits into the model, run its sequence (the programming
// dialog opens from inside it) and show the fields again.
#include <QDialog>
#include <memory>
#include <string>

#include "core/production/ProductionModel.h"
#include "core/production/Station.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QLineEdit;
class QPushButton;

namespace tarnvale {
class ConfigData;
class JobRunner;
class LinkState;
class Operator;
}  // namespace tarnvale

namespace tarnvale::gui {

class CLabel;
class QtOperator;

class CTN820ProductionDialog : public QDialog {
  Q_OBJECT
 public:
  // Generation 4 gives "4", anything else "5". `nav` is the part number the
  // operator entered (empty for "Flash TN835"), kept in the production log.
  CTN820ProductionDialog(ConfigData& settings, QWidget* owner, int generation, LinkState& link,
                         Operator& op, JobRunner& runner, const std::string& nav = {},
                         ProductionOptions options = {});
  ~CTN820ProductionDialog() override;

  ProductionModel& Model() { return *model_; }
  bool Running() const { return running_; }
  // Station mode: on while a shift numbers its units from the pattern.
  bool StationMode() const { return station_ != nullptr; }
  const Station* StationState() const { return station_.get(); }
  // Turns station mode on (asking the operator's name the first time) or
  // off; false when it could not be turned on.
  bool SetStationMode(bool on);
  // "Next Unit": the serial field takes the next unit's number.
  void NextUnit();

  // While a button's run goes on the dialog stays: the run is stopped in
  // its programming dialog.
  void reject() override;

 private:
  void ShowFields();
  // The newest runs of the unit in the serial field, from this station's log.
  void ShowUnitHistory();
  // Station mode after a run: count it, move the counter, show the counts.
  void AfterRun();
  void TakeEdits();
  void Run(ResultCode (ProductionModel::*button)(LinkState&, Operator&, JobRunner&));

  std::unique_ptr<ProductionModel> model_;
  // The dialog's own message boxes belong to it (when the program's
  // operator is the desktop's; a test's stays as given).
  std::unique_ptr<QtOperator> ownOp_;
  LinkState& link_;
  Operator& op_;
  JobRunner& runner_;
  CLabel* heading_;
  QLineEdit* bootPath_;
  QLineEdit* bootVersion_;
  QLineEdit* serial_;
  QLineEdit* revision_;
  QLineEdit* jtagId_;
  QLineEdit* applicationPath_;
  QLineEdit* applicationVersion_;
  QComboBox* models_;
  QLineEdit* testPath_;
  QLineEdit* testVersion_;
  QLineEdit* productionVersion_;
  QLabel* pleaseWait_;
  QCheckBox* stationMode_;
  QLineEdit* stationPattern_;
  QPushButton* nextUnit_;
  QLabel* stationCounters_;
  QListWidget* unitHistory_;
  std::unique_ptr<Station> station_;
  std::string operatorName_;  // asked once per dialog
  bool running_ = false;
};

}  // namespace tarnvale::gui
