// The main window and the serial settings dialog, driven as an operator
// would: real ktr-sim devices on pseudo-terminals, the real web server on a
// free loopback port, the offscreen platform.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <memory>
#include <stdexcept>
#include <thread>

#include "application.h"
#include "form_fixture.h"
#include "http_client.h"
#include "ktr_device.h"
#include "ktr_version.h"
#include "main_form.h"
#include "port_address.h"
#include "port_combo_box.h"
#include "fake_sysfs.h"
#include "serial_set.h"
#include "sim_process.h"
#include "taken_port.h"

using ktr::app::TMainForm;
using ktr::app::TSerialSet;
using ktr::test::FormFolder;
using ktr::test::Items;
using ktr::test::LogLines;
using ktr::test::ModalWatcher;
using ktr::test::TakenPort;
namespace http = ktr::test;

namespace {

// The start-up log: exactly the three lines, whatever the build's version.
const QStringList kStartLog{"KTR web settings v. 1.00 RS485", "Select the correct port of the connected",
                            "device and press 'Search' button"};
constexpr int kScanWaitMs = 60000;  // 126 time-outs of 100 ms, with room for slow builds

// The log without the start-up lines.
QStringList LogAfterStart(const TMainForm& form) { return LogLines(form).mid(kStartLog.size()); }

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private slots:
  void StartUpState() {
    FormFolder folder;
    folder.WriteIni("[PC]\nBaud=9600\nParity=0\nStopBits=2\nSize=7\n");
    folder.AddPort("ttyUSB10");
    folder.AddPort("ttyUSB2");
    QDir().mkpath(folder.path("sys/class/tty/tty0"));  // a virtual terminal: no device behind it
    TMainForm form(folder.Options());

    QCOMPARE(form.windowTitle(), QString("Configurator KTR via Modbus RTU"));
    QCOMPARE(form.size(), QSize(451, 228));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    // Declared, so that a window manager that follows the hints offers Close.
    QVERIFY(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));

    QCOMPARE(LogLines(form), kStartLog);
    // The label keeps the defaults' text; the file's values are in force.
    QCOMPARE(form.LabelSerialSettings->text(), QString("19200,Even,8,1"));
    const ktr::SerialSettings s = form.Device().Settings();
    QCOMPARE(s.baudRate, 9600);
    QCOMPARE(int(s.parity), 0);
    QCOMPARE(int(s.stopBits), 2);
    QCOMPARE(int(s.dataBits), 7);
    QCOMPARE(s.timeoutMs, 1000);
    QCOMPARE(int(s.transport), 0);

    QVERIFY(form.ButtonSearch->isEnabled());
    QVERIFY(!form.ButtonStart->isEnabled());
    QCOMPARE(form.Gauge->minimum(), 1);
    QCOMPARE(form.Gauge->maximum(), 256);
    QCOMPARE(form.Gauge->value(), 1);
    QCOMPARE(Items(form.ComboBoxPort), (QStringList{"/dev/ttyUSB2", "/dev/ttyUSB10"}));
    QCOMPARE(form.ComboBoxPort->currentIndex(), 0);
    QVERIFY(form.ComboBoxPort->isEditable());
    QCOMPARE(form.ComboBoxAddress->count(), 0);

    // Toolbar: Search, 12, Start, 12, Exit, with their hints and pictures.
    const QList<QAction*> tools = form.ToolBar1->actions();
    QCOMPARE(tools.size(), 5);
    QCOMPARE(form.ToolBar1->widgetForAction(tools[0]), form.ButtonSearch);
    QCOMPARE(form.ToolBar1->widgetForAction(tools[1])->width(), 12);
    QCOMPARE(form.ToolBar1->widgetForAction(tools[2]), form.ButtonStart);
    QCOMPARE(form.ToolBar1->widgetForAction(tools[3])->width(), 12);
    QCOMPARE(form.ToolBar1->widgetForAction(tools[4]), form.ButtonClose);
    QCOMPARE(form.ButtonSearch->toolTip(), QString("Search"));
    QCOMPARE(form.ButtonStart->toolTip(), QString("Start"));
    QCOMPARE(form.ButtonClose->toolTip(), QString("Exit"));
    QCOMPARE(form.ButtonSerialSettings->text(), QString("..."));
    QCOMPARE(form.ButtonSerialSettings->toolTip(), QString("Parameters..."));
    for (const QToolButton* b : {form.ButtonSearch, form.ButtonStart, form.ButtonClose}) {
      QCOMPARE(b->size(), QSize(48, 48));
      QCOMPARE(b->icon().availableSizes().value(0), QSize(32, 32));
    }
    QCOMPARE(form.Image1->pixmap().size(), QSize(100, 50));
    QVERIFY(!form.TrayIcon->icon().isNull());
    const QList<QAction*> menu = form.PopupMenu->actions();
    QCOMPARE(menu.size(), 3);
    QCOMPARE(menu[0]->text(), QString("Open"));
    QVERIFY(menu[1]->isSeparator());
    QCOMPARE(menu[2]->text(), QString("Exit"));

    // The version: the logo's hint and the icon's tooltip, not the log.
    QCOMPARE(form.Image1->toolTip(), QStringLiteral("Version ") + ktr::kVersion);
    QCOMPARE(form.TrayIcon->toolTip(),
             QStringLiteral("Configurator KTR via Modbus RTU\nVersion ") + ktr::kVersion);
  }

  void PortListIsRefilledWhenOpened() {
    FormFolder folder;
    folder.AddPort("ttyUSB1");
    folder.AddPort("ttyUSB0");
    TMainForm form(folder.Options());
    form.show();
    form.ComboBoxPort->setCurrentIndex(1);
    folder.AddPort("ttyACM0");
    form.ComboBoxPort->showPopup();
    QCOMPARE(Items(form.ComboBoxPort), (QStringList{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyUSB1"}));
    QCOMPARE(form.ComboBoxPort->currentIndex(), 0);  // the first item, whatever was chosen before
    form.ComboBoxPort->hidePopup();
  }

  // A USB adapter: its stable name is offered too; the open list shows the
  // maker and product beside both names, the edit field the name alone.
  void PortListShowsStableNamesWithDescriptions() {
    FormFolder folder;
    const ktr::test::FakeSysfs sys("form-ports");
    sys.Usb("ttyUSB0", "ftdi_sio", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI"});
    sys.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
    ktr::app::TMainFormOptions options = folder.Options();
    options.portSource = sys.ttyClass().string();
    options.byIdFolder = sys.byId().string();
    TMainForm form(options);
    const QString byId =
        QString::fromStdString(options.byIdFolder) + "/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    QCOMPARE(Items(form.ComboBoxPort), (QStringList{"/dev/ttyUSB0", byId}));
    QCOMPARE(form.ComboBoxPort->currentText(), QString("/dev/ttyUSB0"));
    const QAbstractItemModel* model = form.ComboBoxPort->model();
    QCOMPARE(ktr::app::TPortItemDelegate::ItemText(model->index(1, 0)),
             byId + QString::fromUtf8("  \u2014  FTDI FT232R USB UART"));
    QVERIFY(dynamic_cast<ktr::app::TPortItemDelegate*>(form.ComboBoxPort->itemDelegate()) != nullptr);
  }

  void NoPortsLeavesTheListEmptyAndEditable() {
    FormFolder folder;
    TMainForm form(folder.Options());
    QCOMPARE(form.ComboBoxPort->count(), 0);
    form.ComboBoxPort->setEditText("/tmp/typed");
    QCOMPARE(form.ComboBoxPort->currentText(), QString("/tmp/typed"));
  }

  void SerialSettingsDialog() {
    FormFolder folder;
    TMainForm form(folder.Options());
    form.show();
    form.move(137, 91);
    TSerialSet* dialog = form.SerialSet();
    QCOMPARE(dialog->windowTitle(), QString::fromUtf8("Sériová komunikácia"));
    QCOMPARE(dialog->size(), QSize(254, 157));
    QCOMPARE(dialog->findChild<QLabel*>("Label1")->text(), QString::fromUtf8("Rýchlosť:"));
    QCOMPARE(dialog->findChild<QLabel*>("LabelParity")->text(), QString("Parita:"));
    QCOMPARE(dialog->findChild<QLabel*>("LabelStop")->text(), QString("Stop bity:"));
    QCOMPARE(dialog->findChild<QLabel*>("LabelSize")->text(), QString("Data:"));
    QCOMPARE(dialog->Button1->text(), QString::fromUtf8("Zrušiť"));
    QCOMPARE(dialog->Button2->text(), QString("OK"));
    QCOMPARE(Items(dialog->ComboBoxBaud),
             (QStringList{"1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"}));
    QCOMPARE(Items(dialog->ComboBoxParita), (QStringList{"None", "Odd", "Even"}));
    QCOMPARE(Items(dialog->ComboBoxStop), (QStringList{"1", "1,5", "2"}));
    QCOMPARE(Items(dialog->ComboBoxData), (QStringList{"5", "6", "7", "8"}));
    QCOMPARE(dialog->CheckBoxRs485->text(), QString("RS-485"));
    QVERIFY(!dialog->CheckBoxRs485->isChecked());
    // Every control fits the fixed client area.
    QVERIFY2(dialog->layout()->minimumSize().width() <= 254,
             qPrintable(QString::number(dialog->layout()->minimumSize().width())));
    QVERIFY2(dialog->layout()->minimumSize().height() <= 157,
             qPrintable(QString::number(dialog->layout()->minimumSize().height())));

    // Odd, 2 stop bits, 7 data bits, RS-485 mode, confirmed.
    QPoint dialogCentre;
    ModalWatcher answer([&](QWidget* modal) {
      QCOMPARE(modal, static_cast<QWidget*>(dialog));
      dialogCentre = dialog->geometry().center();
      QCOMPARE(dialog->ComboBoxBaud->currentText(), QString("19200"));
      dialog->ComboBoxParita->setCurrentIndex(1);
      dialog->ComboBoxStop->setCurrentIndex(2);
      dialog->ComboBoxData->setCurrentIndex(2);
      QTest::mouseClick(dialog->CheckBoxRs485, Qt::LeftButton);
      QTest::mouseClick(dialog->Button2, Qt::LeftButton);
    });
    QTest::mouseClick(form.ButtonSerialSettings, Qt::LeftButton);
    QVERIFY(answer.handled());
    QCOMPARE(dialogCentre, form.geometry().center());  // centred on the main window
    QCOMPARE(form.LabelSerialSettings->text(), QString("19200,Odd,7,2"));
    const ktr::SerialSettings s = form.Device().Settings();
    QCOMPARE(int(s.parity), 1);
    QCOMPARE(int(s.stopBits), 2);
    QCOMPARE(int(s.dataBits), 7);
    QVERIFY(s.rs485);
    QSettings ini(folder.iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.childGroups(), QStringList{"PC"});
    QCOMPARE(ini.value("PC/Baud").toString(), QString("19200"));
    QCOMPARE(ini.value("PC/Parity").toString(), QString("1"));
    QCOMPARE(ini.value("PC/StopBits").toString(), QString("2"));
    QCOMPARE(ini.value("PC/Size").toString(), QString("7"));
    QCOMPARE(ini.value("PC/RS485").toString(), QString("1"));

    // The next start reads it back, and the dialog shows it.
    TMainForm again(folder.Options());
    QVERIFY(again.Device().Settings().rs485);
    ModalWatcher shown([&](QWidget*) {
      QVERIFY(again.SerialSet()->CheckBoxRs485->isChecked());
      QTest::mouseClick(again.SerialSet()->Button1, Qt::LeftButton);
    });
    QTest::mouseClick(again.ButtonSerialSettings, Qt::LeftButton);
    QVERIFY(shown.handled());
  }

  // The face's part of a search: the buttons and lists it draws (what the
  // search does is main_form_behaviour_test's).
  void SearchAndStartThroughTheWidgets() {
    ktr::test::SimProcess sim({"--address", "5"});
    FormFolder folder;
    TMainForm form(folder.Options());
    form.ComboBoxPort->setEditText(QString::fromStdString(sim.link()));
    QTest::mouseClick(form.ButtonSearch, Qt::LeftButton);
    QCOMPARE(form.ButtonSearch->toolTip(), QString("Stop"));  // Search turned into Stop
    QVERIFY(!form.ButtonSerialSettings->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!form.SearchRunning(), kScanWaitMs);
    QCOMPARE(form.ButtonSearch->toolTip(), QString("Search"));
    QVERIFY(form.ButtonSerialSettings->isEnabled());
    QCOMPARE(Items(form.ComboBoxAddress), QStringList{"5"});
    QCOMPARE(form.ComboBoxAddress->currentIndex(), 0);
    QCOMPARE(form.Gauge->maximum(), 126);
    QCOMPARE(form.Gauge->value(), 4);
    QCOMPARE(LogAfterStart(form).last(), QString("Press 'Start' button for setting device"));

    QVERIFY(form.ButtonStart->isEnabled());
    QTest::mouseClick(form.ButtonStart, Qt::LeftButton);
    QVERIFY(!form.ButtonStart->isEnabled());
    QCOMPARE(folder.urls(), QList<QUrl>{QUrl(QString("http://localhost:%1").arg(form.HttpPort()))});
    QTRY_COMPARE(LogLines(form).last(), QString("Start http://localhost ...."));
    // The port found is preselected at the next start.
    QCOMPARE(TMainForm(folder.Options()).ComboBoxPort->currentText(), QString::fromStdString(sim.link()));
  }

  void ExitClosesTheWindowAndTheServer() {
    FormFolder folder;
    TMainForm form(folder.Options());
    form.show();
    const std::uint16_t port = form.HttpPort();
    QSignalSpy closed(&form, &TMainForm::closed);
    QTest::mouseClick(form.ButtonClose, Qt::LeftButton);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!form.isVisible());
    QVERIFY(!form.TrayIcon->isVisible());
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, http::ClientSocket{port});  // the server has stopped
  }

  void ServerPortTaken() {
    // The web server cannot listen: the reason is shown in the standard
    // error box, and the pages go to the next free port.
    TakenPort taken;
    FormFolder folder;
    folder.AddPort("ttyUSB0");
    ktr::app::TMainFormOptions options = folder.Options();
    options.httpPort = taken.port();
    options.fallbackPort = taken.port();
    QString message;
    ModalWatcher answer([&](QWidget* modal) {
      auto* mb = qobject_cast<QMessageBox*>(modal);
      QVERIFY(mb != nullptr);
      QCOMPARE(mb->icon(), QMessageBox::Critical);
      message = mb->text();
      mb->accept();
    });
    TMainForm form(options);
    QVERIFY(answer.handled());
    QVERIFY2(message.contains(QString::number(taken.port())), qPrintable(message));
    QCOMPARE(LogLines(form).mid(1, 2),
             (QStringList{message,
                          QString("Pages on http://localhost:%1 (port %2 is taken: Address already in use)")
                              .arg(form.HttpPort())
                              .arg(taken.port())}));
    QVERIFY(form.HttpPort() > taken.port());
    QCOMPARE(Items(form.ComboBoxPort), QStringList{"/dev/ttyUSB0"});
  }

  void MinimiseWithoutNotificationArea() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) QSKIP("this desktop has a notification area");
    FormFolder folder;
    TMainForm form(folder.Options());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!form.TrayIcon->isVisible());
    form.showMinimized();
    QTest::qWait(50);
    // Nothing could bring a hidden window back: it stays minimised.
    QVERIFY(form.isVisible());
    QVERIFY(form.isMinimized());
    form.ActOpen->trigger();  // the same as a double-click on the icon
    QTRY_VERIFY(!form.isMinimized());
    QVERIFY(form.isVisible());
    QVERIFY(!form.TrayIcon->isVisible());
  }

  void EscapedErrorsAreShown_data() {
    QTest::addColumn<bool>("standard");
    QTest::addColumn<QString>("message");
    QTest::newRow("std::exception") << true << "device table is broken";
    QTest::newRow("any other thrown object") << false << "";
  }
  void EscapedErrorsAreShown() {
    QFETCH(bool, standard);
    QString shown = "not shown";
    ModalWatcher answer([&](QWidget* modal) {
      auto* mb = qobject_cast<QMessageBox*>(modal);
      QVERIFY(mb != nullptr);
      shown = mb->text();
      mb->accept();
    });
    QTimer::singleShot(0, this, [standard] {
      if (standard) throw std::runtime_error("device table is broken");
      throw 42;
    });
    QTRY_VERIFY(answer.handled());
    QTEST(shown, "message");
  }
};

// The tests run inside the program's own application object, so that an
// error escaping an event handler is handled as in the program.
int main(int argc, char** argv) {
  ktr::app::TApplication app(argc, argv);
  MainFormTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_form_test.moc"
