// The main window's components and their places: the toolbar and the logo
// on top, the log on the left, the serial port and address groups on the
// right, the gauge at the bottom, in a fixed client area of 451 x 228.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "line_settings.h"
#include "main_form.h"
#include "main_form_texts.h"
#include "port_combo_box.h"

namespace ktr::app {
namespace {

constexpr int kClientWidth = 451;
constexpr int kClientHeight = 228;

QToolButton* ToolButton(QToolBar* bar, const char* name, const char* picture, const QString& hint) {
  auto* button = new QToolButton(bar);
  button->setObjectName(name);
  button->setIcon(QIcon(QString(":/pictures/") + picture));
  button->setIconSize(QSize(32, 32));
  button->setFixedSize(48, 48);
  button->setAutoRaise(true);
  button->setToolTip(hint);
  button->setAccessibleName(hint);
  bar->addWidget(button);
  return button;
}

void ToolSeparator(QToolBar* bar) {
  auto* gap = new QWidget(bar);
  gap->setFixedSize(12, 48);
  bar->addWidget(gap);
}

QGroupBox* Group(QWidget* parent, const char* name, const QString& caption) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(name);
  return box;
}

}  // namespace

void TMainForm::CreateComponents() {
  setObjectName("MainForm");
  setWindowTitle(QString::fromUtf8(text::kMainCaption));
  // Single border, system menu and minimise box only.
  // The close button is declared: a window manager that follows the hints
  // (GNOME's) otherwise shows none and ignores Alt+F4.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowIcon(QIcon(QStringLiteral(":/pictures/icon64.png")));

  auto* central = new QWidget(this);
  setCentralWidget(central);

  // Toolbar: Search | 12 | Start | 12 | Exit, and the logo on the right.
  ToolBar1 = new QToolBar(central);
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(32, 32));
  ButtonSearch = ToolButton(ToolBar1, "ButtonSearch", "search.png", QString::fromUtf8(text::kSearch));
  ToolSeparator(ToolBar1);
  ButtonStart = ToolButton(ToolBar1, "ButtonStart", "start.png", QString::fromUtf8(text::kStart));
  ToolSeparator(ToolBar1);
  ButtonClose = ToolButton(ToolBar1, "ButtonClose", "exit.png", QString::fromUtf8(text::kExit));
  ButtonStart->setEnabled(false);
  searchHint_ = ButtonSearch->toolTip();
  searchIcon_ = ButtonSearch->icon();

  Image1 = new QLabel(central);
  Image1->setObjectName("Image1");
  Image1->setPixmap(QPixmap(QStringLiteral(":/pictures/logo.png")));
  Image1->setFixedSize(100, 50);
  Image1->setToolTip(QString::fromStdString(text::VersionHint()));

  auto* top = new QHBoxLayout;
  top->setSpacing(0);
  top->addWidget(ToolBar1);
  top->addStretch(1);
  top->addWidget(Image1);

  // Log.
  GroupBoxLogWindow = Group(central, "GroupBoxLogWindow", QString::fromUtf8(text::kLogGroup));
  MemoLogWindow = new QPlainTextEdit(GroupBoxLogWindow);
  MemoLogWindow->setObjectName("MemoLogWindow");
  MemoLogWindow->setReadOnly(true);
  MemoLogWindow->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  MemoLogWindow->setMaximumBlockCount(kLogLinesKept);
  auto* logLayout = new QVBoxLayout(GroupBoxLogWindow);
  logLayout->setContentsMargins(4, 2, 4, 4);
  logLayout->addWidget(MemoLogWindow);

  // Serial port: the port list, "..." for the line settings, their text.
  GroupBox2 = Group(central, "GroupBox2", QString::fromUtf8(text::kPortGroup));
  ComboBoxPort = new TPortComboBox(GroupBox2);
  ComboBoxPort->setObjectName("ComboBoxPort");
  ComboBoxPort->setEditable(true);
  ComboBoxPort->setInsertPolicy(QComboBox::NoInsert);
  ComboBoxPort->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  ButtonSerialSettings = new QPushButton(QString::fromUtf8(text::kSerialSettingsButton), GroupBox2);
  ButtonSerialSettings->setObjectName("ButtonSerialSettings");
  ButtonSerialSettings->setToolTip(QString::fromUtf8(text::kSerialSettingsHint));
  ButtonSerialSettings->setFixedWidth(26);
  LabelSerialSettings = new QLabel(
      QString::fromUtf8(kInitialLabelText.data(), static_cast<qsizetype>(kInitialLabelText.size())),
      GroupBox2);
  LabelSerialSettings->setObjectName("LabelSerialSettings");
  auto* portRow = new QHBoxLayout;
  portRow->setSpacing(3);
  portRow->addWidget(ComboBoxPort);
  portRow->addWidget(ButtonSerialSettings);
  auto* portLayout = new QVBoxLayout(GroupBox2);
  portLayout->setContentsMargins(6, 2, 6, 4);
  portLayout->setSpacing(2);
  portLayout->addLayout(portRow);
  portLayout->addWidget(LabelSerialSettings);

  // Device address, filled by the search; display only.
  GroupBoxAddress = Group(central, "GroupBoxAddress", QString::fromUtf8(text::kAddressGroup));
  ComboBoxAddress = new QComboBox(GroupBoxAddress);
  ComboBoxAddress->setObjectName("ComboBoxAddress");
  auto* addressLayout = new QVBoxLayout(GroupBoxAddress);
  addressLayout->setContentsMargins(6, 2, 6, 4);
  addressLayout->addWidget(ComboBoxAddress);

  auto* right = new QVBoxLayout;
  right->setSpacing(2);
  right->addWidget(GroupBox2);
  right->addWidget(GroupBoxAddress);
  right->addStretch(1);

  auto* middle = new QHBoxLayout;
  middle->setSpacing(6);
  middle->addWidget(GroupBoxLogWindow, 1);
  middle->addLayout(right);
  GroupBox2->setFixedWidth(150);
  GroupBoxAddress->setFixedWidth(150);

  // Gauge: 1..256 at 1 until a search re-ranges it.
  Gauge = new QProgressBar(central);
  Gauge->setObjectName("Gauge");
  Gauge->setRange(1, 256);
  Gauge->setValue(1);
  Gauge->setTextVisible(false);
  Gauge->setFixedHeight(12);
  QPalette blue = Gauge->palette();
  blue.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd6));
  Gauge->setPalette(blue);

  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(6, 2, 6, 6);
  layout->setSpacing(3);
  layout->addLayout(top);
  layout->addLayout(middle, 1);
  layout->addWidget(Gauge);

  // Notification-area icon and its menu: "Open", a separator, "Exit".
  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName("PopupMenu");
  ActOpen = PopupMenu->addAction(QString::fromUtf8(text::kOpen));
  ActOpen->setObjectName("ActOpen");
  PopupMenu->addSeparator();
  ActClose = PopupMenu->addAction(QString::fromUtf8(text::kExit));
  ActClose->setObjectName("ActClose");
  TrayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/pictures/icon.png")), this);
  TrayIcon->setObjectName("TrayIcon");
  TrayIcon->setToolTip(QString::fromStdString(text::TrayTip()));
  TrayIcon->setContextMenu(PopupMenu);

  connect(ButtonSearch, &QToolButton::clicked, this, &TMainForm::OnButtonSearchClick);
  connect(ButtonStart, &QToolButton::clicked, this, &TMainForm::OnButtonStartClick);
  connect(ButtonClose, &QToolButton::clicked, this, &TMainForm::OnButtonCloseClick);
  connect(ButtonSerialSettings, &QPushButton::clicked, this, &TMainForm::OnButtonSerialSettingsClick);
  connect(ComboBoxPort, &TPortComboBox::dropDown, this, &TMainForm::OnComboBoxPortDropDown);
  connect(ActOpen, &QAction::triggered, this, &TMainForm::ActOpenClick);
  connect(ActClose, &QAction::triggered, this, &TMainForm::ActCloseClick);
  connect(TrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) OnTrayIconDblClick();
  });

  // Fixed client size, centred on the screen; the port is the first choice.
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
  ComboBoxPort->setFocus();
}

}  // namespace ktr::app
