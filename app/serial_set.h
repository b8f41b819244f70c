// TSerialSet: the modal serial settings dialog "Sériová komunikácia" (baud
// rate, parity, stop bits, data bits, RS-485 direction control). One instance lives as long as the
// main window and is shown again each time the "..." button is pressed.
#pragma once

#include <QDialog>
#include <QString>

#include "line_settings.h"
#include "serial_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace ktr::app {

class TSerialSet : public QDialog {
  Q_OBJECT

 public:
  explicit TSerialSet(QWidget* parent = nullptr);

  // Sets the four lists and the RS-485 box from `settings` and `label` to
  // SettingsLabelText.
  void LoadFromSettings(const SerialSettings& settings, QLabel* label);
  // Writes the four line fields, rs485 (and the port name's transport) of `settings` from
  // the dialog, and `label`'s text.
  void ApplyToSettings(SerialSettings& settings, QLabel* label) const;
  // The lists' texts: baud, parity, data bits, stop bits joined by ",".
  QString SettingsLabelText() const;

  // Rebuilds `box`'s items from the system's serial ports as listed by
  // `portSource` and `byIdFolder` (see SystemPorts) and selects the first
  // one; each item's description is its PortDescriptionRole data (the
  // list shows it beside the name, see TPortComboBox). Needs no dialog: the
  // main window fills its list before the dialog exists.
  static void FillPortList(QComboBox* box, const QString& portSource, const QString& byIdFolder);

  QComboBox* ComboBoxBaud = nullptr;
  QComboBox* ComboBoxParita = nullptr;
  QComboBox* ComboBoxStop = nullptr;
  QComboBox* ComboBoxData = nullptr;
  QCheckBox* CheckBoxRs485 = nullptr;
  QPushButton* Button1 = nullptr;  // "Zrušiť": Cancel
  QPushButton* Button2 = nullptr;  // "OK"

 private:
  LineChoice Choice() const;
};

}  // namespace ktr::app
