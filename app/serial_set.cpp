#include "serial_set.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "port_combo_box.h"
#include "port_list.h"

namespace ktr::app {
namespace {

template <std::size_t N>
QComboBox* DropDownList(QWidget* parent, const char* name, const std::array<std::string_view, N>& items) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->setEditable(false);
  for (const std::string_view item : items) {
    box->addItem(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
  }
  return box;
}

QLabel* Caption(QWidget* parent, const char* name, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setBuddy(buddy);
  return label;
}

}  // namespace

TSerialSet::TSerialSet(QWidget* parent) : QDialog(parent) {
  setObjectName("SerialSet");
  setWindowTitle(QStringLiteral("Sériová komunikácia"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);

  ComboBoxBaud = DropDownList(this, "ComboBoxBaud", kBaudItems);
  ComboBoxParita = DropDownList(this, "ComboBoxParita", kParityItems);
  ComboBoxStop = DropDownList(this, "ComboBoxStop", kStopItems);
  ComboBoxData = DropDownList(this, "ComboBoxData", kDataItems);

  CheckBoxRs485 = new QCheckBox(QStringLiteral("RS-485"), this);
  CheckBoxRs485->setObjectName("CheckBoxRs485");
  CheckBoxRs485->setToolTip(
      QStringLiteral("RS-485: RTS pri vysielaní (the kernel drives RTS as the transmit enable of an on-board "
                     "transceiver; leave it off for USB adapters, they switch by themselves)"));

  auto* grid = new QGridLayout;
  grid->addWidget(Caption(this, "Label1", QStringLiteral("Rýchlosť:"), ComboBoxBaud), 0, 0);
  grid->addWidget(ComboBoxBaud, 0, 1);
  grid->addWidget(Caption(this, "LabelParity", QStringLiteral("Parita:"), ComboBoxParita), 1, 0);
  grid->addWidget(ComboBoxParita, 1, 1);
  grid->addWidget(Caption(this, "LabelStop", QStringLiteral("Stop bity:"), ComboBoxStop), 2, 0);
  grid->addWidget(ComboBoxStop, 2, 1);
  grid->addWidget(Caption(this, "LabelSize", QStringLiteral("Data:"), ComboBoxData), 3, 0);
  // The RS-485 box shares the row of the short data-bits list: the client
  // area is fixed.
  auto* dataRow = new QHBoxLayout;
  dataRow->addWidget(ComboBoxData, 1);
  dataRow->addWidget(CheckBoxRs485);
  grid->addLayout(dataRow, 3, 1);
  grid->setColumnStretch(1, 1);
  grid->setVerticalSpacing(4);

  Button1 = new QPushButton(QStringLiteral("Zrušiť"), this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton(QStringLiteral("OK"), this);
  Button2->setObjectName("Button2");
  Button2->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
  connect(Button2, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Button2);
  buttons->addWidget(Button1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 8, 10, 8);
  layout->setSpacing(6);
  layout->addLayout(grid);
  layout->addStretch(1);
  layout->addLayout(buttons);

  setFixedSize(254, 157);
}

LineChoice TSerialSet::Choice() const {
  return {.baud = ComboBoxBaud->currentIndex(),
          .parity = ComboBoxParita->currentIndex(),
          .stop = ComboBoxStop->currentIndex(),
          .data = ComboBoxData->currentIndex(),
          .rs485 = CheckBoxRs485->isChecked()};
}

void TSerialSet::LoadFromSettings(const SerialSettings& settings, QLabel* label) {
  const LineChoice choice = ChoiceFromSettings(settings);
  ComboBoxBaud->setCurrentIndex(choice.baud);
  ComboBoxParita->setCurrentIndex(choice.parity);
  ComboBoxStop->setCurrentIndex(choice.stop);
  ComboBoxData->setCurrentIndex(choice.data);
  CheckBoxRs485->setChecked(choice.rs485);
  if (label != nullptr) label->setText(SettingsLabelText());
}

void TSerialSet::ApplyToSettings(SerialSettings& settings, QLabel* label) const {
  settings = ApplyChoice(settings, Choice());
  if (label != nullptr) label->setText(SettingsLabelText());
}

QString TSerialSet::SettingsLabelText() const {
  return QString::fromStdString(ktr::app::SettingsLabelText(Choice()));
}

void TSerialSet::FillPortList(QComboBox* box, const QString& portSource, const QString& byIdFolder) {
  box->clear();
  for (const PortEntry& port : SystemPorts(portSource.toStdString(), byIdFolder.toStdString())) {
    box->addItem(QString::fromStdString(port.name));
    box->setItemData(box->count() - 1, QString::fromStdString(port.description), PortDescriptionRole);
  }
  if (box->count() > 0) box->setCurrentIndex(0);
}

}  // namespace ktr::app
