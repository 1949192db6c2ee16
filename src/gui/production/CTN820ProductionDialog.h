#pragma once
// "TN835 Production Programming": a thin view over ProductionModel. The
// buttons take the edits into the model, run its sequence (the programming
// dialog opens from inside it) and show the fields again.
#include <QDialog>
#include <memory>
#include <string>

#include "core/production/ProductionModel.h"

class QComboBox;
class QLabel;
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

  // While a button's run goes on the dialog stays: the run is stopped in
  // its programming dialog.
  void reject() override;

 private:
  void ShowFields();
  void TakeEdits();
  void Run(ResultCode (ProductionModel::*button)(LinkState&, Operator&, JobRunner&));

  std::unique_ptr<ProductionModel> model_;
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
  bool running_ = false;
};

}  // namespace tarnvale::gui
