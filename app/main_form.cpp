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

#include <exception>
#include <string>
#include <vector>

#include "desktop.h"
#include "ini_settings.h"
#include "ktr_device.h"
#include "ktr_version.h"
#include "modbus_master.h"
#include "port_combo_box.h"
#include "serial_set.h"
#include "web_service.h"

namespace ktr::app {

TMainForm::TMainForm(TMainFormOptions options, QWidget* parent)
    : QMainWindow(parent), options_(std::move(options)) {
  CreateComponents();
  OnCreate();
}

TMainForm::~TMainForm() {
  // Nothing may call back into this window once it is going: stop the
  // connection threads and wait for a search that is still scanning (up to
  // 126 reply time-outs) before the members go.
  stopSearch_ = true;  // a running scan ends at its next address
  StopServices();
  if (searchThread_.joinable()) searchThread_.join();
}

// Start-up, in this order: the device (its mutex and settings record),
// the settings from the configuration file, the web server, the port list
// and the second log entry. The Modbus worker is created before the web
// server, because the server answers from its first moment and every
// device endpoint needs the worker.
void TMainForm::OnCreate() {
  AppendLog(QStringLiteral("KTR web settings v. 1.00 RS485"));
  // The build's version, as ktr-cli --version and the packages show it.
  AppendLog(QStringLiteral("Version ") + QLatin1String(kVersion));

  modbus_ = std::make_unique<TModbus>();
  device_ = std::make_unique<TKtrDevice>(
      *modbus_, [this](const std::string& line) { Log(QString::fromStdString(line)); },
      [this](const std::vector<std::string>& addresses) {
        QStringList list;
        for (const std::string& a : addresses) list << QString::fromStdString(a);
        QMetaObject::invokeMethod(
            this, [this, list] { ReplaceAddressList(list); }, Qt::QueuedConnection);
      });

  SerialSettings settings = device_->Settings();
  LoadIniSettings(options_.iniPath, settings);
  settings.timeoutMs = 1000;
  settings.transport = 0;
  device_->SetSettings(settings);

  web_ = std::make_unique<WebService>(*device_, options_.webRoot.toStdString());
  const std::string error = web_->Start(options_.listenAddress, options_.httpPort);
  if (!error.empty()) {
    // The pages are not served, but the search and the device still work.
    const QString reason = QString::fromStdString(error);
    AppendLog(reason);
    QMessageBox::critical(this, QStringLiteral("KTRWebServer"), reason);
  }

  OnComboBoxPortDropDown();
  // The port on which the last search found a device, typed in when it is
  // not listed (a pseudo-terminal, an adapter not plugged in yet).
  const QString lastPort = LoadIniPort(options_.iniPath);
  if (!lastPort.isEmpty()) {
    const int index = ComboBoxPort->findText(lastPort);
    if (index >= 0) {
      ComboBoxPort->setCurrentIndex(index);
    } else {
      ComboBoxPort->setEditText(lastPort);
    }
  }
  AppendLog(QStringLiteral("Select the correct port of the connected\r\ndevice and press 'Search' button"));

  if (QSystemTrayIcon::isSystemTrayAvailable()) TrayIcon->show();
}

TSerialSet* TMainForm::SerialSet() {
  if (serialSet_ == nullptr) serialSet_ = new TSerialSet(this);
  return serialSet_;
}

std::uint16_t TMainForm::HttpPort() const { return web_ ? web_->port() : 0; }

// Every line goes through the window's event queue, from the GUI thread as
// well: one queue keeps the lines in the order they were logged, whichever
// threads they came from.
void TMainForm::Log(const QString& line) {
  QMetaObject::invokeMethod(
      this, [this, line] { AppendLog(line); }, Qt::QueuedConnection);
}

void TMainForm::AppendLog(const QString& line) {
  QString text = line;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  MemoLogWindow->appendPlainText(text);
}

void TMainForm::SetGauge(int minimum, int maximum, int position) {
  Gauge->setRange(minimum, maximum);
  // Position 0 (below the range) is the empty gauge of a new scan.
  if (position < minimum) {
    Gauge->reset();
  } else {
    Gauge->setValue(position);
  }
}

void TMainForm::ReplaceAddressList(const QStringList& addresses) {
  ComboBoxAddress->clear();
  ComboBoxAddress->addItems(addresses);
  if (!addresses.isEmpty()) ComboBoxAddress->setCurrentIndex(0);
}

// The search of the bus runs on its own thread; its log lines, the gauge
// and the address list come back as queued calls, in the order the search
// made them. The line settings button waits with Search: the scan uses the
// settings record the dialog writes.
// While the scan runs the Search button is a Stop button: the scan then ends
// at its next address.
void TMainForm::OnButtonSearchClick() {
  if (searching_) {
    if (!userStop_.exchange(true)) ButtonSearch->setEnabled(false);  // until the scan has ended
    return;
  }
  if (searchThread_.joinable()) searchThread_.join();
  searching_ = true;
  userStop_ = false;
  ButtonSearch->setToolTip(QStringLiteral("Stop"));
  ButtonSearch->setAccessibleName(QStringLiteral("Stop"));
  ButtonSearch->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
  ButtonSerialSettings->setEnabled(false);

  searchPort_ = ComboBoxPort->currentText();
  const std::string portName = searchPort_.toStdString();
  searchThread_ = std::thread([this, portName] {
    bool found = false;
    try {
      TKtrDevice::SearchProgress progress;
      progress.stopRequested = [this] { return stopSearch_.load() || userStop_.load(); };
      progress.gauge = [this](int minimum, int maximum, int position) {
        QMetaObject::invokeMethod(
            this, [this, minimum, maximum, position] { SetGauge(minimum, maximum, position); },
            Qt::QueuedConnection);
      };
      found = device_->SearchDevice(portName, progress);
    } catch (const std::exception& e) {
      Log(QStringLiteral("Search failed: %1").arg(QString::fromLocal8Bit(e.what())));
    }
    QMetaObject::invokeMethod(
        this, [this, found] { OnSearchDone(found); }, Qt::QueuedConnection);
  });
}

void TMainForm::OnSearchDone(bool found) {
  if (searchThread_.joinable()) searchThread_.join();  // it has just posted this and ends
  searching_ = false;
  ButtonSearch->setToolTip(searchHint_);
  ButtonSearch->setAccessibleName(searchHint_);
  ButtonSearch->setIcon(searchIcon_);
  ButtonSearch->setEnabled(true);
  ButtonSerialSettings->setEnabled(true);
  if (userStop_.exchange(false) && !found) AppendLog(QStringLiteral("Search stopped"));
  // A later search that finds nothing leaves Start as it was.
  if (found) {
    ButtonStart->setEnabled(true);
    const QString error = SaveIniPort(options_.iniPath, searchPort_);
    if (!error.isEmpty()) AppendLog(error);
  }
}

void TMainForm::OnButtonStartClick() {
  Log(QStringLiteral("Start http://localhost ...."));
  ButtonStart->setEnabled(false);
  QUrl url(QStringLiteral("http://localhost"));
  const std::uint16_t port = HttpPort();
  if (port != 0 && port != 80) url.setPort(port);
  // Whether the browser could be started is not reported.
  if (options_.openBrowser) {
    options_.openBrowser(url);
  } else {
    OpenInBrowser(url);
  }
}

void TMainForm::OnButtonCloseClick() { close(); }

void TMainForm::ActCloseClick() { close(); }

void TMainForm::OnButtonSerialSettingsClick() {
  TSerialSet* dialog = SerialSet();
  SerialSettings settings = device_->Settings();
  // The label follows the record even when the dialog is then cancelled.
  dialog->LoadFromSettings(settings, LabelSerialSettings);
  // Centred on this window; left to itself the dialog lands 10-40 px off,
  // placed before the window system has reported either frame. move() places
  // the frame of a top-level window: the dialog's frame is taken to be as
  // wide as this window's.
  const QPoint frame = geometry().topLeft() - pos();
  dialog->move(geometry().center() - dialog->rect().center() - frame);
  if (dialog->exec() != QDialog::Accepted) return;
  // Only the line fields change: a search cannot run meanwhile (its button
  // and this one exclude each other), so the rest of the record is current.
  dialog->ApplyToSettings(settings, LabelSerialSettings);
  device_->SetSettings(settings);
  const QString error = SaveIniSettings(options_.iniPath, settings);
  if (!error.isEmpty()) QMessageBox::critical(this, QStringLiteral("KTRWebServer"), error);
}

void TMainForm::OnComboBoxPortDropDown() {
  TSerialSet::FillPortList(ComboBoxPort, options_.portSource, options_.byIdFolder);
}

void TMainForm::OnApplicationEventsMinimize() {
  // Without a notification area a hidden window could not be brought back:
  // then the window only minimises.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  hide();
  TrayIcon->show();
}

void TMainForm::OnTrayIconDblClick() {
  TrayIcon->hide();
  showNormal();
  raise();
  activateWindow();
}

void TMainForm::ActOpenClick() { OnTrayIconDblClick(); }

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
  OnClose();
  event->accept();
  emit closed();
}

void TMainForm::OnClose() {
  hide();
  TrayIcon->hide();
  StopServices();
}

void TMainForm::StopServices() {
  if (web_) web_->Stop();
}

}  // namespace ktr::app
