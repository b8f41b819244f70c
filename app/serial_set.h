// TSerialSet: the modal serial settings dialog "Sériová komunikácia" (baud
// rate, parity, stop bits, data bits). One instance lives as long as the
// main window and is shown again each time the "..." button is pressed.
#pragma once

#include <QDialog>
#include <QString>

#include "line_settings.h"
#include "serial_settings.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace ktr::app {

class TSerialSet : public QDialog {
  Q_OBJECT

 public:
  explicit TSerialSet(QWidget* parent = nullptr);

  // Sets the four lists from `settings` and `label` to SettingsLabelText.
  void LoadFromSettings(const SerialSettings& settings, QLabel* label);
  // Writes the four line fields (and transport 0) of `settings` from the
  // lists, and `label`'s text.
  void ApplyToSettings(SerialSettings& settings, QLabel* label) const;
  // The lists' texts: baud, parity, data bits, stop bits joined by ",".
  QString SettingsLabelText() const;

  // Rebuilds `box`'s items from the system's serial ports as listed by
  // `portSource` (see SystemPortNames) and selects the first one. Needs no
  // dialog: the main window fills its list before the dialog exists.
  static void FillPortList(QComboBox* box, const QString& portSource);

  QComboBox* ComboBoxBaud = nullptr;
  QComboBox* ComboBoxParita = nullptr;
  QComboBox* ComboBoxStop = nullptr;
  QComboBox* ComboBoxData = nullptr;
  QPushButton* Button1 = nullptr;  // "Zrušiť": Cancel
  QPushButton* Button2 = nullptr;  // "OK"

 private:
  LineChoice Choice() const;
};

}  // namespace ktr::app
