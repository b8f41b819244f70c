// The port combo box: editable (a port name may be typed, e.g. a
// pseudo-terminal's path) and refilled each time its list is opened.
#pragma once

#include <QComboBox>

namespace ktr::app {

class TPortComboBox : public QComboBox {
  Q_OBJECT

 public:
  using QComboBox::QComboBox;

  void showPopup() override {
    emit dropDown();  // refill first, then show the new items
    QComboBox::showPopup();
  }

 signals:
  void dropDown();
};

}  // namespace ktr::app
