// TSerialSet: the modal serial settings dialog "Sériová komunikácia" (baud
// rate, parity, stop bits, data bits, RS-485 direction control). One instance lives as long as the
// main window and is shown again each time the "..." button is pressed.
#pragma once

#include <QDialog>
#include <QString>

#include "line_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace ktr::app {

class TSerialSet : public QDialog {
  Q_OBJECT

 public:
  explicit TSerialSet(QWidget* parent = nullptr);

  // The four lists' positions and the RS-485 box (the record's mapping to
  // them is MainFormBehaviour's, through line_settings.h).
  void SetChoice(const LineChoice& choice);
  LineChoice Choice() const;

  QComboBox* ComboBoxBaud = nullptr;
  QComboBox* ComboBoxParita = nullptr;
  QComboBox* ComboBoxStop = nullptr;
  QComboBox* ComboBoxData = nullptr;
  QCheckBox* CheckBoxRs485 = nullptr;
  QPushButton* Button1 = nullptr;  // "Zrušiť": Cancel
  QPushButton* Button2 = nullptr;  // "OK"
};

}  // namespace ktr::app
