#include "serial_set.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "main_form_texts.h"

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
  setWindowTitle(QString::fromUtf8(text::kDialogCaption));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);

  ComboBoxBaud = DropDownList(this, "ComboBoxBaud", kBaudItems);
  ComboBoxParita = DropDownList(this, "ComboBoxParita", kParityItems);
  ComboBoxStop = DropDownList(this, "ComboBoxStop", kStopItems);
  ComboBoxData = DropDownList(this, "ComboBoxData", kDataItems);

  CheckBoxRs485 = new QCheckBox(QString::fromUtf8(text::kRs485), this);
  CheckBoxRs485->setObjectName("CheckBoxRs485");
  CheckBoxRs485->setToolTip(QString::fromUtf8(text::kRs485Hint));

  auto* grid = new QGridLayout;
  grid->addWidget(Caption(this, "Label1", QString::fromUtf8(text::kBaudLabel), ComboBoxBaud), 0, 0);
  grid->addWidget(ComboBoxBaud, 0, 1);
  grid->addWidget(Caption(this, "LabelParity", QString::fromUtf8(text::kParityLabel), ComboBoxParita), 1, 0);
  grid->addWidget(ComboBoxParita, 1, 1);
  grid->addWidget(Caption(this, "LabelStop", QString::fromUtf8(text::kStopLabel), ComboBoxStop), 2, 0);
  grid->addWidget(ComboBoxStop, 2, 1);
  grid->addWidget(Caption(this, "LabelSize", QString::fromUtf8(text::kDataLabel), ComboBoxData), 3, 0);
  // The RS-485 box shares the row of the short data-bits list: the client
  // area is fixed.
  auto* dataRow = new QHBoxLayout;
  dataRow->addWidget(ComboBoxData, 1);
  dataRow->addWidget(CheckBoxRs485);
  grid->addLayout(dataRow, 3, 1);
  grid->setColumnStretch(1, 1);
  grid->setVerticalSpacing(4);

  Button1 = new QPushButton(QString::fromUtf8(text::kCancel), this);
  Button1->setObjectName("Button1");
  Button2 = new QPushButton(QString::fromUtf8(text::kOk), this);
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

void TSerialSet::SetChoice(const LineChoice& choice) {
  ComboBoxBaud->setCurrentIndex(choice.baud);
  ComboBoxParita->setCurrentIndex(choice.parity);
  ComboBoxStop->setCurrentIndex(choice.stop);
  ComboBoxData->setCurrentIndex(choice.data);
  CheckBoxRs485->setChecked(choice.rs485);
}

}  // namespace ktr::app
