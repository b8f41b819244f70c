// TMainForm, the Qt face of the main window "Configurator KTR via Modbus
// RTU": the log, the port and address choices, the search gauge, the
// toolbar (Search, Start, Exit) and the notification-area icon. What the
// window does is MainFormBehaviour's (which owns the Modbus worker, the
// device and the web server); this class creates the widgets, forwards
// their events and draws what it is told.
//
// Threads: the window runs on the GUI thread. Work from other threads
// (log lines, the search's gauge and end) reaches it through queued calls
// (MainFormView::Post).
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

#include "main_form_options.h"
#include "main_form_view.h"

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

namespace ktr::app {

class TPortComboBox;
class TSerialSet;

class TMainForm : public QMainWindow, public MainFormView {
  Q_OBJECT

 public:
  // Creates the widgets and runs the start-up (MainFormBehaviour::Start).
  explicit TMainForm(TMainFormOptions options = {}, QWidget* parent = nullptr);
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

  MainFormBehaviour& Behaviour() { return *behaviour_; }
  TKtrDevice& Device() { return behaviour_->Device(); }
  // The port the web server listens on; 0 when it could not start.
  std::uint16_t HttpPort() const { return behaviour_->HttpPort(); }
  bool SearchRunning() const { return behaviour_->SearchRunning(); }

  // MainFormView
  void Post(std::function<void()> task) override;
  void AppendLogLine(const std::string& line) override;
  void ShowGauge(int minimum, int maximum, int position) override;
  void ShowAddresses(const std::vector<std::string>& addresses) override;
  void ShowPorts(const std::vector<PortEntry>& ports) override;
  void ShowPortText(const std::string& port) override;
  std::string PortText() const override;
  void ShowLineSettings(const std::string& text) override;
  void ShowSearchButton(bool stop, bool enabled) override;
  void EnableStart(bool enabled) override;
  void EnableSerialSettings(bool enabled) override;
  std::optional<LineChoice> RunSerialSettings(const LineChoice& choice) override;
  void ShowError(const std::string& message) override;
  void OpenBrowser(const std::string& url) override;
  bool HasNotificationArea() const override;
  void ShowTrayIcon(bool shown) override;
  void HideWindow() override;
  void RestoreWindow() override;

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

  std::function<void(const std::string&)> openBrowser_;
  std::unique_ptr<MainFormBehaviour> behaviour_;
  TSerialSet* serialSet_ = nullptr;  // a child of this window
  // The Search button's own face, put back when a search ends.
  QString searchHint_;
  QIcon searchIcon_;
};

}  // namespace ktr::app
