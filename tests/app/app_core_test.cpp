// The window's parts that need no window: the settings dialog's mapping and
// label text, and the configuration file. (The port lists are tested with
// the core: tests/modbus/port_list_test.cpp.)
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <string>

#include "desktop.h"
#include "ini_settings.h"
#include "line_settings.h"
#include "port_address.h"

using ktr::SerialSettings;
using namespace ktr::app;

namespace {

SerialSettings Line(std::int32_t baud, int parity, int stop, int data) {
  SerialSettings s;
  s.baudRate = baud;
  s.parity = static_cast<std::uint8_t>(parity);
  s.stopBits = static_cast<std::uint8_t>(stop);
  s.dataBits = static_cast<std::uint8_t>(data);
  return s;
}

void WriteFile(const QString& path, const QByteArray& content) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

}  // namespace

class AppCoreTest : public QObject {
  Q_OBJECT

 private slots:
  // --- the dialog's lists and the label ---
  void ChoiceFromSettings_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("data");
    QTest::addColumn<QString>("label");
    QTest::newRow("defaults") << 19200 << 2 << 0 << 8 << "19200,Even,8,1";
    QTest::newRow("every list's first item") << 1200 << 0 << 0 << 5 << "1200,None,5,1";
    QTest::newRow("odd, 2 stop, 7 data") << 115200 << 1 << 2 << 7 << "115200,Odd,7,2";
    QTest::newRow("one and a half stop bits") << 14400 << 2 << 1 << 6 << "14400,Even,6,1,5";
    QTest::newRow("baud not listed -> 19200") << 12345 << 0 << 0 << 8 << "19200,None,8,1";
    QTest::newRow("data bits 9 -> 8") << 9600 << 2 << 0 << 9 << "9600,Even,8,1";
    QTest::newRow("data bits 0 -> 8") << 9600 << 2 << 0 << 0 << "9600,Even,8,1";
    QTest::newRow("parity code 3 -> Even") << 9600 << 3 << 0 << 8 << "9600,Even,8,1";
    QTest::newRow("stop code 7 -> 1") << 9600 << 0 << 7 << 8 << "9600,None,8,1";
  }
  void ChoiceFromSettings() {
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, stop);
    QFETCH(int, data);
    QFETCH(QString, label);
    const LineChoice choice = ktr::app::ChoiceFromSettings(Line(baud, parity, stop, data));
    QCOMPARE(QString::fromStdString(SettingsLabelText(choice)), label);
  }

  void ApplyChoiceWritesTheLineFieldsOnly() {
    SerialSettings before = Line(9600, 0, 0, 8);
    before.portName = "/dev/ttyUSB0";
    before.slaveAddress = 17;
    before.timeoutMs = 100;
    before.transport = 3;
    const SerialSettings after = ApplyChoice(before, {.baud = 8, .parity = 1, .stop = 2, .data = 2});
    QCOMPARE(after.baudRate, 115200);
    QCOMPARE(int(after.parity), 1);
    QCOMPARE(int(after.stopBits), 2);
    QCOMPARE(int(after.dataBits), 7);
    QCOMPARE(int(after.transport), 0);
    QCOMPARE(after.portName, std::string("/dev/ttyUSB0"));
    QCOMPARE(int(after.slaveAddress), 17);
    QCOMPARE(after.timeoutMs, 100);
    // A gateway's port name keeps its transport: the dialog sets the line.
    before.portName = "rtu+tcp://10.0.0.5:4001";
    QCOMPARE(int(ApplyChoice(before, {}).transport), int(ktr::kTransportRtuOverTcp));
  }

  void ChoiceRoundTripsEveryListedValue() {
    for (const auto baud : kBaudItems) {
      for (int parity = 0; parity < 3; ++parity) {
        for (int stop = 0; stop < 3; ++stop) {
          for (int data = 5; data <= 8; ++data) {
            const SerialSettings s = Line(std::stoi(std::string(baud)), parity, stop, data);
            const SerialSettings back = ApplyChoice(SerialSettings{}, ktr::app::ChoiceFromSettings(s));
            QCOMPARE(back.baudRate, s.baudRate);
            QCOMPARE(back.parity, s.parity);
            QCOMPARE(back.stopBits, s.stopBits);
            QCOMPARE(back.dataBits, s.dataBits);
          }
        }
      }
    }
  }

  void NothingSelectedMeansTheDefault() {
    const LineChoice none{.baud = -1, .parity = -1, .stop = -1, .data = -1};
    QCOMPARE(QString::fromStdString(SettingsLabelText(none)), QString("19200,Even,8,1"));
    const SerialSettings s = ApplyChoice(SerialSettings{}, none);
    QCOMPARE(s.baudRate, 19200);
    QCOMPARE(int(s.parity), 2);
  }

  // --- the configuration file ---
  void LoadIni_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("data");
    QTest::newRow("all four keys") << QByteArray("[PC]\nBaud=9600\nParity=1\nStopBits=2\nSize=7\n") << 9600
                                   << 1 << 2 << 7;
    QTest::newRow("no section -> defaults") << QByteArray("[XY]\nBaud=9600\n") << 19200 << 2 << 0 << 8;
    QTest::newRow("missing keys -> defaults") << QByteArray("[PC]\nSize=5\n") << 19200 << 2 << 0 << 5;
    QTest::newRow("not integers -> defaults")
        << QByteArray("[PC]\nBaud=fast\nParity=\nStopBits=1.5\nSize=8x\n") << 19200 << 2 << 0 << 8;
    QTest::newRow("out of the fields' range -> defaults")
        << QByteArray("[PC]\nBaud=-5\nParity=256\nStopBits=-1\nSize=1000\n") << 19200 << 2 << 0 << 8;
    QTest::newRow("CRLF lines and spaces")
        << QByteArray("[PC]\r\nBaud = 57600\r\nParity = 0\r\n") << 57600 << 0 << 0 << 8;
    QTest::newRow("a baud rate the dialog does not list is kept")
        << QByteArray("[PC]\nBaud=250000\n") << 250000 << 2 << 0 << 8;
  }
  void LoadIni() {
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath("KTRWebServer.INI");
    WriteFile(path, content);
    SerialSettings s = Line(1, 9, 9, 9);
    s.portName = "kept";
    LoadIniSettings(path.toStdString(), s);
    QTEST(s.baudRate, "baud");
    QTEST(int(s.parity), "parity");
    QTEST(int(s.stopBits), "stop");
    QTEST(int(s.dataBits), "data");
    QCOMPARE(s.portName, std::string("kept"));
  }

  void LoadIniRs485_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("rs485");
    QTest::newRow("on") << QByteArray("[PC]\nRS485=1\n") << true;
    QTest::newRow("off") << QByteArray("[PC]\nRS485=0\n") << false;
    QTest::newRow("missing -> off") << QByteArray("[PC]\nBaud=9600\n") << false;
    QTest::newRow("not 0 or 1 -> off") << QByteArray("[PC]\nRS485=2\n") << false;
    QTest::newRow("not an integer -> off") << QByteArray("[PC]\nRS485=yes\n") << false;
  }
  void LoadIniRs485() {
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath("KTRWebServer.INI");
    WriteFile(path, content);
    SerialSettings s;
    s.rs485 = true;  // every read sets it
    LoadIniSettings(path.toStdString(), s);
    QTEST(s.rs485, "rs485");
    SerialSettings back;
    QCOMPARE(SaveIniSettings(path.toStdString(), s), std::string());
    LoadIniSettings(path.toStdString(), back);
    QCOMPARE(back.rs485, s.rs485);
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("PC/RS485").toString(),
             QString(s.rs485 ? "1" : "0"));
  }

  void LoadIniWithoutAFileGivesTheDefaults() {
    QTemporaryDir dir;
    SerialSettings s = Line(1, 0, 1, 5);
    LoadIniSettings(dir.filePath("none/KTRWebServer.INI").toStdString(), s);
    QCOMPARE(s.baudRate, 19200);
    QCOMPARE(int(s.parity), 2);
    QCOMPARE(int(s.stopBits), 0);
    QCOMPARE(int(s.dataBits), 8);
    QVERIFY(!QFile::exists(dir.filePath("none")));  // reading creates nothing
  }

  void SaveIniWritesTheFourKeysAndCreatesTheFolder() {
    QTemporaryDir dir;
    const QString path = dir.filePath("Orvo/KTRWebServer/KTRWebServer.INI");
    QCOMPARE(SaveIniSettings(path.toStdString(), Line(4800, 1, 2, 7)), std::string());
    QSettings ini(path, QSettings::IniFormat);
    QCOMPARE(ini.childGroups(), QStringList{"PC"});
    QCOMPARE(ini.value("PC/Baud").toString(), QString("4800"));
    QCOMPARE(ini.value("PC/Parity").toString(), QString("1"));
    QCOMPARE(ini.value("PC/StopBits").toString(), QString("2"));
    QCOMPARE(ini.value("PC/Size").toString(), QString("7"));
    SerialSettings back;
    LoadIniSettings(path.toStdString(), back);
    QCOMPARE(back.baudRate, 4800);
    QCOMPARE(int(back.dataBits), 7);
  }

  void SaveIniKeepsOtherContent() {
    QTemporaryDir dir;
    const QString path = dir.filePath("KTRWebServer.INI");
    WriteFile(path, "[PC]\nBaud=1200\nExtra=1\n[Other]\nKey=text\n");
    QCOMPARE(SaveIniSettings(path.toStdString(), Line(38400, 0, 0, 8)), std::string());
    QSettings ini(path, QSettings::IniFormat);
    QCOMPARE(ini.value("PC/Baud").toInt(), 38400);
    QCOMPARE(ini.value("PC/Extra").toInt(), 1);
    QCOMPARE(ini.value("Other/Key").toString(), QString("text"));
  }

  void SaveIniFailureNamesTheFile() {
    QTemporaryDir dir;
    // A folder on the path is a plain file: nothing can be written there,
    // not even as root.
    WriteFile(dir.filePath("blocker"), "x");
    const QString path = dir.filePath("blocker/KTRWebServer.INI");
    QCOMPARE(SaveIniSettings(path.toStdString(), Line(9600, 0, 0, 8)),
             "Unable to write to " + path.toStdString());
  }

  void DefaultIniPathFollowsXdgConfigHome() {
#ifndef Q_OS_WIN
    QTemporaryDir dir;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    const QString path = QString::fromStdString(DefaultIniPath());
    if (old.isNull()) {
      qunsetenv("XDG_CONFIG_HOME");
    } else {
      qputenv("XDG_CONFIG_HOME", old);
    }
    QCOMPARE(path, dir.path() + "/Orvo/KTRWebServer/KTRWebServer.INI");
#endif
  }
};

QTEST_GUILESS_MAIN(AppCoreTest)
#include "app_core_test.moc"
