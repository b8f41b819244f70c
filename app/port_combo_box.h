// The port combo box: editable (a port name may be typed, e.g. a
// pseudo-terminal's path) and refilled each time its list is opened. The
// open list shows each port's description (the USB adapter's maker and
// product) beside its name; the edit field and currentText() hold the name
// alone, as the port is opened by it.
#pragma once

#include <QComboBox>
#include <QStyledItemDelegate>

namespace ktr::app {

// The item data role that holds a port's description.
inline constexpr int PortDescriptionRole = Qt::UserRole + 1;

// Draws "name — description" for items that have a description.
class TPortItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  // The text the open list shows for `index`.
  static QString ItemText(const QModelIndex& index) {
    const QString name = index.data(Qt::DisplayRole).toString();
    const QString description = index.data(PortDescriptionRole).toString();
    return description.isEmpty() ? name : name + QStringLiteral("  \u2014  ") + description;
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = ItemText(index);
  }
};

class TPortComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TPortComboBox(QWidget* parent = nullptr) : QComboBox(parent) {
    setItemDelegate(new TPortItemDelegate(this));
  }

  void showPopup() override {
    emit dropDown();  // refill first, then show the new items
    QComboBox::showPopup();
  }

 signals:
  void dropDown();
};

}  // namespace ktr::app
