#include "main_form.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include "desktop.h"
#include "main_form_texts.h"
#include "port_combo_box.h"
#include "serial_set.h"

namespace ktr::app {

TMainForm::TMainForm(TMainFormOptions options, QWidget* parent)
    : QMainWindow(parent), openBrowser_(std::move(options.openBrowser)) {
  CreateComponents();
  behaviour_ = std::make_unique<MainFormBehaviour>(*this, static_cast<MainFormOptions>(options));
  behaviour_->Start();
}

// The behaviour goes first (a member, before the widgets): it stops the
// threads that post to this window.
TMainForm::~TMainForm() = default;

TSerialSet* TMainForm::SerialSet() {
  if (serialSet_ == nullptr) serialSet_ = new TSerialSet(this);
  return serialSet_;
}

void TMainForm::Log(const QString& line) { behaviour_->Log(line.toStdString()); }

// --- events ---

void TMainForm::OnButtonSearchClick() { behaviour_->OnButtonSearchClick(); }
void TMainForm::OnButtonStartClick() { behaviour_->OnButtonStartClick(); }
void TMainForm::OnButtonCloseClick() { close(); }
void TMainForm::ActCloseClick() { close(); }
void TMainForm::OnButtonSerialSettingsClick() { behaviour_->OnButtonSerialSettingsClick(); }
void TMainForm::OnComboBoxPortDropDown() { behaviour_->OnComboBoxPortDropDown(); }
void TMainForm::OnApplicationEventsMinimize() { behaviour_->OnApplicationEventsMinimize(); }
void TMainForm::OnTrayIconDblClick() { behaviour_->OnTrayIconDblClick(); }
void TMainForm::ActOpenClick() { behaviour_->OnTrayIconDblClick(); }

void TMainForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    // Hidden after the state change has been handled by the window system.
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) OnApplicationEventsMinimize();
    });
  }
}

void TMainForm::closeEvent(QCloseEvent* event) {
  behaviour_->OnClose();
  event->accept();
  emit closed();
}

// --- MainFormView ---

void TMainForm::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void TMainForm::AppendLogLine(const std::string& line) {
  MemoLogWindow->appendPlainText(QString::fromStdString(line));
}

void TMainForm::ShowGauge(int minimum, int maximum, int position) {
  Gauge->setRange(minimum, maximum);
  // Position 0 (below the range) is the empty gauge of a new scan.
  if (position < minimum) {
    Gauge->reset();
  } else {
    Gauge->setValue(position);
  }
}

void TMainForm::ShowAddresses(const std::vector<std::string>& addresses) {
  ComboBoxAddress->clear();
  for (const std::string& address : addresses) ComboBoxAddress->addItem(QString::fromStdString(address));
  if (!addresses.empty()) ComboBoxAddress->setCurrentIndex(0);
}

void TMainForm::ShowPorts(const std::vector<PortEntry>& ports) {
  ComboBoxPort->clear();
  for (const PortEntry& port : ports) {
    ComboBoxPort->addItem(QString::fromStdString(port.name));
    ComboBoxPort->setItemData(ComboBoxPort->count() - 1, QString::fromStdString(port.description),
                              PortDescriptionRole);
  }
  if (ComboBoxPort->count() > 0) ComboBoxPort->setCurrentIndex(0);
}

void TMainForm::ShowPortText(const std::string& port) {
  const QString name = QString::fromStdString(port);
  const int index = ComboBoxPort->findText(name);
  if (index >= 0) {
    ComboBoxPort->setCurrentIndex(index);
  } else {
    ComboBoxPort->setEditText(name);
  }
}

std::string TMainForm::PortText() const { return ComboBoxPort->currentText().toStdString(); }

void TMainForm::ShowLineSettings(const std::string& text) {
  LabelSerialSettings->setText(QString::fromStdString(text));
}

void TMainForm::ShowSearchButton(bool stop, bool enabled) {
  const QString hint = stop ? QString::fromUtf8(text::kStop) : searchHint_;
  ButtonSearch->setToolTip(hint);
  ButtonSearch->setAccessibleName(hint);
  ButtonSearch->setIcon(stop ? style()->standardIcon(QStyle::SP_BrowserStop) : searchIcon_);
  ButtonSearch->setEnabled(enabled);
}

void TMainForm::EnableStart(bool enabled) { ButtonStart->setEnabled(enabled); }

void TMainForm::EnableSerialSettings(bool enabled) { ButtonSerialSettings->setEnabled(enabled); }

std::optional<LineChoice> TMainForm::RunSerialSettings(const LineChoice& choice) {
  TSerialSet* dialog = SerialSet();
  dialog->SetChoice(choice);
  // Centred on this window; left to itself the dialog lands 10-40 px off,
  // placed before the window system has reported either frame. move() places
  // the frame of a top-level window: the dialog's frame is taken to be as
  // wide as this window's.
  const QPoint frame = geometry().topLeft() - pos();
  dialog->move(geometry().center() - dialog->rect().center() - frame);
  if (dialog->exec() != QDialog::Accepted) return std::nullopt;
  return dialog->Choice();
}

void TMainForm::ShowError(const std::string& message) {
  QMessageBox::critical(this, QString::fromUtf8(text::kProgramName), QString::fromStdString(message));
}

void TMainForm::OpenBrowser(const std::string& url) {
  if (openBrowser_) {
    openBrowser_(url);
  } else {
    OpenInBrowser(url);
  }
}

bool TMainForm::HasNotificationArea() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TMainForm::ShowTrayIcon(bool shown) { TrayIcon->setVisible(shown); }

void TMainForm::HideWindow() { hide(); }

void TMainForm::RestoreWindow() {
  showNormal();
  raise();
  activateWindow();
}

}  // namespace ktr::app
