// TMainForm: the main window "Configurator KTR via Modbus RTU". It owns the
// Modbus worker, the device (serial settings, device mutex, register image,
// firmware) and the web server, and shows the log, the port and address
// choices, the search gauge and the toolbar (Search, Start, Exit). When
// minimised it lives on as a notification-area icon, where the desktop has
// one.
//
// Threads: the window runs on the GUI thread. Log lines and address-list
// changes come from the web server's connection threads and from the search
// thread; they reach the widgets through queued calls. The device search
// runs on a thread of its own, so the window stays responsive while the bus
// is scanned.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <atomic>
#include <thread>

#include "main_form_options.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;
class QToolBar;
class QToolButton;

namespace ktr {
class TKtrDevice;
class TModbus;
class WebService;
}  // namespace ktr

namespace ktr::app {

class TPortComboBox;
class TSerialSet;

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // Runs the start-up (OnCreate): settings from the INI file, the web
  // server, the Modbus worker, the port list and the log's first entries.
  explicit TMainForm(TMainFormOptions options = {}, QWidget* parent = nullptr);
  // Stops the web server, waits for a running search, stops the worker.
  ~TMainForm() override;
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Appends one entry to the log; callable from any thread (the entry shows
  // once the window's event loop has taken it). "\r\n" inside an entry
  // starts a new line.
  void Log(const QString& line);

  // The serial settings dialog, created on first use; the process entry
  // creates it right after the window.
  TSerialSet* SerialSet();

  TKtrDevice& Device() { return *device_; }
  // The port the web server listens on; 0 when it could not start.
  std::uint16_t HttpPort() const;
  bool SearchRunning() const { return searching_; }

  // --- components ---
  QToolBar* ToolBar1 = nullptr;
  QToolButton* ButtonSearch = nullptr;
  QToolButton* ButtonStart = nullptr;
  QToolButton* ButtonClose = nullptr;
  QLabel* Image1 = nullptr;
  QGroupBox* GroupBoxLogWindow = nullptr;
  QPlainTextEdit* MemoLogWindow = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  TPortComboBox* ComboBoxPort = nullptr;
  QPushButton* ButtonSerialSettings = nullptr;
  QLabel* LabelSerialSettings = nullptr;
  QGroupBox* GroupBoxAddress = nullptr;
  QComboBox* ComboBoxAddress = nullptr;
  QProgressBar* Gauge = nullptr;
  QSystemTrayIcon* TrayIcon = nullptr;
  QMenu* PopupMenu = nullptr;
  QAction* ActOpen = nullptr;
  QAction* ActClose = nullptr;

 public slots:
  void OnButtonSearchClick();
  void OnButtonStartClick();
  void OnButtonCloseClick();
  void OnButtonSerialSettingsClick();
  void OnComboBoxPortDropDown();
  void OnTrayIconDblClick();
  void ActOpenClick();
  void ActCloseClick();
  void OnApplicationEventsMinimize();

 signals:
  // The window has closed (Exit, the tray's "Exit", or the window system):
  // the process entry ends the message loop on it.
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;  // OnClose
  void changeEvent(QEvent* event) override;

 private:
  void CreateComponents();  // main_form_layout.cpp
  void OnCreate();
  void OnClose();
  void AppendLog(const QString& line);
  void SetGauge(int minimum, int maximum, int position);
  void ReplaceAddressList(const QStringList& addresses);
  void OnSearchDone(bool found);
  void StopServices();

  TMainFormOptions options_;
  std::unique_ptr<TModbus> modbus_;
  std::unique_ptr<TKtrDevice> device_;
  std::unique_ptr<WebService> web_;
  TSerialSet* serialSet_ = nullptr;  // a child of this window
  std::thread searchThread_;
  std::atomic<bool> stopSearch_{false};  // set when the window goes
  std::atomic<bool> userStop_{false};    // set by Stop while a search scans
  bool searching_ = false;
  QString searchPort_;  // the port of the running search
  // The Search button's own face, put back when a search ends.
  QString searchHint_;
  QIcon searchIcon_;
};

}  // namespace ktr::app
