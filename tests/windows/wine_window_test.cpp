// KTRWebServer.exe, the Win32 window, driven under Wine as a technician
// would, from another process: by control id, read back through the Win32
// API (class, text, style, enabled state, rectangle; never screen
// coordinates). Run by scripts/test-windows, which gives the environment:
//
//   KTR_WINDOW_EXE      the program (a Windows path)
//   KTR_BROWSER_LOG     the file the stand-in browser appends each address to
//   KTR_WINDOW_SIM      "1" when a ktr-sim answers on COM5 (and COM12, the
//                       same pty: a port above COM9)
//   KTR_SCREENSHOT_DIR  when set, only the Screenshot case runs (BMP files)
//
// Port 80 is held by the script (or cannot be had without root), so every
// start shows the error box and the pages go to the first free port from
// 8080 up.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control_ids.h"
#include "http_client.h"
#include "win_text.h"

namespace {

using namespace std::chrono_literals;
using namespace ktr::app::win;
using ktr::win::Utf8FromWide;
using Lines = std::vector<std::string>;

const char kIniPath[] = "C:/ProgramData/Orvo/KTRWebServer/KTRWebServer.INI";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// Waits for `done` (checked every 50 ms) for at most `limit`.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// A control's text through WM_GETTEXT (GetWindowText does not ask another
// process's controls).
std::string Text(HWND hwnd) {
  DWORD_PTR length = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                      5000, &copied);
  text.resize(copied);
  return Utf8FromWide(text);
}

std::string ClassOf(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  return Utf8FromWide(name);
}

LONG_PTR Style(HWND hwnd) { return GetWindowLongPtrW(hwnd, GWL_STYLE); }

// A length at 96 dpi as the window has it at its dpi (the script runs the
// cases at 96 and at 144).
int Scaled(HWND hwnd, int length) { return MulDiv(length, static_cast<int>(GetDpiForWindow(hwnd)), 96); }

SIZE ClientSize(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

POINT Centre(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::string::size_type begin = 0;
  while (begin <= text.size()) {
    const std::string::size_type end = text.find("\r\n", begin);
    lines.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) break;
    begin = end + 2;
  }
  return lines;
}

Lines ComboItems(HWND box) {
  Lines items;
  const auto count = SendMessageW(box, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring item(static_cast<std::size_t>(SendMessageW(box, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
    SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
    items.push_back(Utf8FromWide(item.c_str()));
  }
  return items;
}

// The top-level windows of a process.
std::vector<HWND> WindowsOf(DWORD process) {
  struct Search {
    DWORD process;
    std::vector<HWND> found;
  } search{process, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->process) s->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::optional<std::string> IniValue(const char* key) {
  wchar_t value[256] = {};
  const DWORD n = GetPrivateProfileStringW(L"PC", ktr::win::WideFromUtf8(key).c_str(), L"\x1f", value, 256,
                                           ktr::win::WideFromUtf8(kIniPath).c_str());
  if (n == 1 && value[0] == L'\x1f') return std::nullopt;
  return Utf8FromWide(value);
}

// One run of KTRWebServer.exe: started, its start-up error box (port 80)
// answered, its main window found; ended by Exit or, failing that, killed.
class App {
 public:
  App() {
    const std::wstring exe = ktr::win::WideFromUtf8(Env("KTR_WINDOW_EXE"));
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
      failure_ = "cannot start " + Env("KTR_WINDOW_EXE") + ": " + ktr::win::SystemErrorText(GetLastError());
      return;
    }
    // The start-up shows the error box before the window: answer it, then
    // the window appears. A window that is never made fails here, fast.
    const bool up = WaitFor([this] {
      if (Exited()) return true;
      for (HWND hwnd : WindowsOf(process_.dwProcessId)) {
        if (ClassOf(hwnd) == "#32770" && IsWindowVisible(hwnd) && Text(hwnd) == "KTRWebServer" &&
            startBox_.empty()) {
          startBox_ = BoxText(hwnd);
          PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
        }
        if (ClassOf(hwnd) == "TMainForm" && IsWindowVisible(hwnd)) main_ = hwnd;
      }
      return main_ != nullptr;
    });
    if (main_ == nullptr) {
      failure_ = Exited() ? "KTRWebServer.exe ended before its window showed"
                 : up     ? "no window"
                          : "KTRWebServer.exe made no window within 30 s";
    }
  }
  ~App() {
    if (process_.hProcess == nullptr) return;
    if (!Exited()) {
      PostMessageW(main_, WM_COMMAND, MAKEWPARAM(kButtonClose, BN_CLICKED), 0);
      if (WaitForSingleObject(process_.hProcess, 20000) != WAIT_OBJECT_0)
        TerminateProcess(process_.hProcess, 9);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  App(const App&) = delete;
  App& operator=(const App&) = delete;

  // Why the window is not there; empty when it is.
  const std::string& failure() const { return failure_; }
  HWND main() const { return main_; }
  HANDLE process() const { return process_.hProcess; }
  DWORD processId() const { return process_.dwProcessId; }
  const std::string& startBox() const { return startBox_; }
  bool Exited() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }

  HWND Control(int id) const {
    HWND control = GetDlgItem(main_, id);
    return control != nullptr ? control : GetDlgItem(GetDlgItem(main_, kToolBar1), id);
  }
  // A click on a button, as the button reports it to its window.
  void Click(int id) const {
    PostMessageW(main_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
  }
  Lines Log() const { return SplitLines(Text(Control(kMemoLogWindow))); }
  bool LogHas(const std::string& line) const {
    const Lines log = Log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  // A visible window of the program: its class and title.
  HWND FindWindowOf(const std::string& className, const std::string& title) const {
    HWND found = nullptr;
    WaitFor([&] {
      for (HWND hwnd : WindowsOf(process_.dwProcessId)) {
        if (ClassOf(hwnd) == className && IsWindowVisible(hwnd) && Text(hwnd) == title) found = hwnd;
      }
      return found != nullptr;
    });
    return found;
  }
  // The message of an error box: its longest static text.
  static std::string BoxText(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      if (ClassOf(child) == "Static" && Text(child).size() > text.size()) text = Text(child);
    }
    return text;
  }
  // The port the pages went to, from the log's "Pages on" line.
  std::uint16_t PagesPort() const {
    for (const std::string& line : Log()) {
      if (line.rfind("Pages on http://localhost:", 0) == 0) {
        return static_cast<std::uint16_t>(std::stoi(line.substr(26)));
      }
    }
    return 0;
  }

 private:
  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
  std::string failure_;
  std::string startBox_;
};

#define START_APP(app) \
  App app;             \
  ASSERT_TRUE(app.failure().empty()) << app.failure()

class WineWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Env("KTR_SCREENSHOT_DIR").empty()) GTEST_SKIP() << "screenshots only";
    ASSERT_FALSE(Env("KTR_WINDOW_EXE").empty()) << "run through scripts/test-windows";
    // Each case starts without settings (the defaults), whatever ran before.
    std::filesystem::remove(std::filesystem::u8path(kIniPath));
  }
};

// --- start-up, captions, hints, places ---

TEST_F(WineWindow, StartUpShowsTheWindowAsOnLinux) {
  START_APP(app);
  HWND main = app.main();
  EXPECT_EQ(Text(main), "Configurator KTR via Modbus RTU");
  const SIZE client = ClientSize(main);
  EXPECT_EQ(client.cx, Scaled(main, 451));
  EXPECT_EQ(client.cy, Scaled(main, 228));
  std::printf("dpi %u\n", GetDpiForWindow(main));
  const LONG_PTR style = Style(main);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);  // single border: no resizing
  // Centred on the work area.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const POINT centre = Centre(main);
  EXPECT_LE(std::abs(centre.x - (work.left + work.right) / 2), 1);
  EXPECT_LE(std::abs(centre.y - (work.top + work.bottom) / 2), 1);

  // Every component: class, caption (the toolbar buttons' text is their
  // hint), enabled state and size.
  struct Component {
    int id;
    const char* className;
    const char* text;
    bool enabled;
    int width, height;  // 0: not checked
  };
  const Component components[] = {
      {kToolBar1, "KtrToolBar", "", true, 0, 48},
      {kButtonSearch, "Button", "Search", true, 48, 48},
      {kButtonStart, "Button", "Start", false, 48, 48},
      {kButtonClose, "Button", "Exit", true, 48, 48},
      {kImage1, "Static", "", true, 100, 50},
      {kGroupBoxLogWindow, "Button", "Log window:", true, 0, 0},
      {kMemoLogWindow, "Edit", nullptr, true, 0, 0},
      {kGroupBox2, "Button", "Serial port:", true, 0, 0},
      {kComboBoxPort, "ComboBox", nullptr, true, 0, 0},
      {kButtonSerialSettings, "Button", "...", true, 0, 0},
      {kLabelSerialSettings, "Static", "19200,Even,8,1", true, 0, 0},
      {kGroupBoxAddress, "Button", "ID:", true, 0, 0},
      {kComboBoxAddress, "ComboBox", "", true, 0, 0},
      {kGauge, "msctls_progress32", "", true, 0, 0},
  };
  for (const Component& c : components) {
    SCOPED_TRACE(c.id);
    HWND control = app.Control(c.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(ClassOf(control), c.className);
    if (c.text != nullptr) {
      EXPECT_EQ(Text(control), c.text);
    }
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, c.enabled);
    EXPECT_TRUE(IsWindowVisible(control));
    RECT r{};
    GetWindowRect(control, &r);
    if (c.width != 0) {
      EXPECT_EQ(r.right - r.left, Scaled(main, c.width));
    }
    if (c.height != 0) {
      EXPECT_EQ(r.bottom - r.top, Scaled(main, c.height));
    }
    // Inside the client area.
    MapWindowPoints(nullptr, main, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_GE(r.left, 0);
    EXPECT_GE(r.top, 0);
    EXPECT_LE(r.right, client.cx);
    EXPECT_LE(r.bottom, client.cy);
  }
  for (int id : {kButtonSearch, kButtonStart, kButtonClose}) {
    EXPECT_TRUE(Style(app.Control(id)) & BS_ICON);
    EXPECT_NE(SendMessageW(app.Control(id), BM_GETIMAGE, IMAGE_ICON, 0), 0);
  }
  EXPECT_TRUE(Style(app.Control(kImage1)) & SS_BITMAP);
  EXPECT_TRUE(Style(app.Control(kMemoLogWindow)) & ES_READONLY);
  EXPECT_TRUE(Style(app.Control(kMemoLogWindow)) & WS_VSCROLL);
  EXPECT_EQ(Style(app.Control(kComboBoxPort)) & 3, CBS_DROPDOWN);  // a port name can be typed
  EXPECT_EQ(Style(app.Control(kComboBoxAddress)) & 3, CBS_DROPDOWNLIST);
  HWND gauge = app.Control(kGauge);
  EXPECT_EQ(SendMessageW(gauge, PBM_GETRANGE, TRUE, 0), 1);
  EXPECT_EQ(SendMessageW(gauge, PBM_GETRANGE, FALSE, 0), 256);
  EXPECT_EQ(SendMessageW(gauge, PBM_GETPOS, 0, 0), 1);

  // The ports from the registry, by number (the script maps COM5 and
  // COM12; Wine adds its own, such as COM1 for /dev/ttyS0); the first one
  // chosen.
  const Lines ports = ComboItems(app.Control(kComboBoxPort));
  const auto com5 = std::find(ports.begin(), ports.end(), "COM5");
  const auto com12 = std::find(ports.begin(), ports.end(), "COM12");
  EXPECT_TRUE(com5 != ports.end() && com12 != ports.end() && com5 < com12) << ::testing::PrintToString(ports);
  EXPECT_EQ(Text(app.Control(kComboBoxPort)), ports.front());

  // Port 80 is taken: the error box, its line, and the pages on the next
  // free port from 8080.
  EXPECT_NE(app.startBox().find("port 80"), std::string::npos) << app.startBox();
  const std::uint16_t port = app.PagesPort();
  ASSERT_GE(port, 8080);
  const Lines log = app.Log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0], "KTR web settings v. 1.00 RS485");
  EXPECT_EQ(log[1], app.startBox());
  const std::string reason = app.startBox().substr(app.startBox().find(": ") + 2);
  EXPECT_EQ(log[2],
            "Pages on http://localhost:" + std::to_string(port) + " (port 80 is taken: " + reason + ")");
  EXPECT_EQ(log[3], "Select the correct port of the connected");
  EXPECT_EQ(log[4], "device and press 'Search' button");
  const ktr::test::Reply page = ktr::test::Get(port, "/index.html");
  EXPECT_EQ(page.status, 200);
}

// --- the serial settings dialog ---

// Opens the dialog with "..." and returns it (the program's visible #32770
// with the Slovak caption).
HWND OpenSerialSet(const App& app) {
  app.Click(kButtonSerialSettings);
  return app.FindWindowOf("#32770", "Sériová komunikácia");
}

TEST_F(WineWindow, SerialSettingsDialogChangeCancelOk) {
  START_APP(app);
  HWND dialog = OpenSerialSet(app);
  ASSERT_NE(dialog, nullptr) << "the dialog did not show";
  EXPECT_EQ(GetWindow(dialog, GW_OWNER), app.main());  // modal over the window
  EXPECT_FALSE(IsWindowEnabled(app.main()));
  const SIZE client = ClientSize(dialog);
  EXPECT_EQ(client.cx, Scaled(dialog, 254));
  EXPECT_EQ(client.cy, Scaled(dialog, 157));
  // Every control within the client area.
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == "tooltips_class32") continue;
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.cx && r.bottom <= client.cy) << Text(child);
  }
  const POINT mine = Centre(dialog);
  const POINT theirs = Centre(app.main());
  EXPECT_LE(std::abs(mine.x - theirs.x), 1);
  EXPECT_LE(std::abs(mine.y - theirs.y), 1);
  struct Caption {
    int id;
    const char* text;
  };
  for (const Caption& c :
       {Caption{kLabel1, "Rýchlosť:"}, Caption{kLabelParity, "Parita:"}, Caption{kLabelStop, "Stop bity:"},
        Caption{kLabelSize, "Data:"}, Caption{kCheckBoxRs485, "RS-485"}, Caption{IDOK, "OK"},
        Caption{IDCANCEL, "Zrušiť"}}) {
    EXPECT_EQ(Text(GetDlgItem(dialog, c.id)), c.text);
  }
  EXPECT_EQ(ComboItems(GetDlgItem(dialog, kComboBoxBaud)),
            (Lines{"1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200"}));
  EXPECT_EQ(ComboItems(GetDlgItem(dialog, kComboBoxParita)), (Lines{"None", "Odd", "Even"}));
  EXPECT_EQ(ComboItems(GetDlgItem(dialog, kComboBoxStop)), (Lines{"1", "1,5", "2"}));
  EXPECT_EQ(ComboItems(GetDlgItem(dialog, kComboBoxData)), (Lines{"5", "6", "7", "8"}));
  EXPECT_EQ(SendDlgItemMessageW(dialog, kComboBoxBaud, CB_GETCURSEL, 0, 0), 5);  // 19200
  EXPECT_EQ(SendDlgItemMessageW(dialog, kComboBoxParita, CB_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(SendDlgItemMessageW(dialog, kCheckBoxRs485, BM_GETCHECK, 0, 0), BST_UNCHECKED);

  // Changed, then cancelled: nothing kept, nothing written.
  SendDlgItemMessageW(dialog, kComboBoxBaud, CB_SETCURSEL, 0, 0);
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }));
  EXPECT_EQ(Text(app.Control(kLabelSerialSettings)), "19200,Even,8,1");
  EXPECT_FALSE(IniValue("Baud").has_value());

  // Odd, 2 stop bits, 7 data bits, RS-485, confirmed: the label and the file.
  dialog = OpenSerialSet(app);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SendDlgItemMessageW(dialog, kComboBoxBaud, CB_GETCURSEL, 0, 0),
            5);  // the record's, not the cancelled
  SendDlgItemMessageW(dialog, kComboBoxParita, CB_SETCURSEL, 1, 0);
  SendDlgItemMessageW(dialog, kComboBoxStop, CB_SETCURSEL, 2, 0);
  SendDlgItemMessageW(dialog, kComboBoxData, CB_SETCURSEL, 2, 0);
  SendDlgItemMessageW(dialog, kCheckBoxRs485, BM_SETCHECK, BST_CHECKED, 0);
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return Text(app.Control(kLabelSerialSettings)) == "19200,Odd,7,2"; }))
      << Text(app.Control(kLabelSerialSettings));
  EXPECT_TRUE(IsWindowEnabled(app.main()));
  EXPECT_EQ(IniValue("Baud"), "19200");
  EXPECT_EQ(IniValue("Parity"), "1");
  EXPECT_EQ(IniValue("StopBits"), "2");
  EXPECT_EQ(IniValue("Size"), "7");
  EXPECT_EQ(IniValue("RS485"), "1");
}

// The next start reads the file: the dialog opens with what was saved.
TEST_F(WineWindow, NextStartReadsTheSettingsBack) {
  std::filesystem::create_directories(std::filesystem::u8path(kIniPath).parent_path());
  {
    std::ofstream ini(std::filesystem::u8path(kIniPath), std::ios::binary);
    ini << "[PC]\r\nBaud=9600\r\nParity=0\r\nStopBits=0\r\nSize=8\r\nRS485=1\r\nPort=COM12\r\n";
  }
  START_APP(app);
  EXPECT_EQ(Text(app.Control(kComboBoxPort)), "COM12");  // the last port found
  HWND dialog = OpenSerialSet(app);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(SendDlgItemMessageW(dialog, kComboBoxBaud, CB_GETCURSEL, 0, 0), 3);  // 9600
  EXPECT_EQ(SendDlgItemMessageW(dialog, kComboBoxParita, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(SendDlgItemMessageW(dialog, kCheckBoxRs485, BM_GETCHECK, 0, 0), BST_CHECKED);
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(WaitFor([&] { return Text(app.Control(kLabelSerialSettings)) == "9600,None,8,1"; }));
}

// The settings folder cannot be written (here: a file stands where its
// folder should be): the error box names the file, the settings hold.
TEST_F(WineWindow, SettingsThatCannotBeWrittenAreReported) {
  const std::filesystem::path folder = std::filesystem::u8path(kIniPath).parent_path();
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder.parent_path());
  std::ofstream(folder) << "x";
  START_APP(app);
  HWND dialog = OpenSerialSet(app);
  ASSERT_NE(dialog, nullptr);
  SendDlgItemMessageW(dialog, kComboBoxParita, CB_SETCURSEL, 0, 0);
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  HWND box = app.FindWindowOf("#32770", "KTRWebServer");
  ASSERT_NE(box, nullptr) << "no error box";
  EXPECT_EQ(App::BoxText(box), std::string("Unable to write to ") + kIniPath);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitFor([&] { return Text(app.Control(kLabelSerialSettings)) == "19200,None,8,1"; }));
  std::filesystem::remove(folder);
}

// --- search, Start ---

class WineWindowDevice : public WineWindow {
 protected:
  void SetUp() override {
    WineWindow::SetUp();
    if (IsSkipped()) return;
    if (Env("KTR_WINDOW_SIM") != "1") GTEST_SKIP() << "no ktr-sim on COM5";
    // No parity: Wine's SetCommState refuses parity on a pseudo-terminal
    // (the kernel's pty cannot do it), as a technician sets the device's.
    std::filesystem::create_directories(std::filesystem::u8path(kIniPath).parent_path());
    std::ofstream(std::filesystem::u8path(kIniPath), std::ios::binary) << "[PC]\r\nParity=0\r\n";
  }
  // Types `port`, presses Search, waits for the search's last line.
  static void Search(const App& app, const std::string& port, const std::string& lastLine) {
    SendMessageW(app.Control(kComboBoxPort), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(ktr::win::WideFromUtf8(port).c_str()));
    app.Click(kButtonSearch);
    ASSERT_TRUE(WaitFor([&] { return app.LogHas(lastLine); }, 60s)) << "log:\n"
                                                                    << Text(app.Control(kMemoLogWindow));
    ASSERT_TRUE(WaitFor([&] { return Text(app.Control(kButtonSearch)) == "Search"; }));
  }
};

TEST_F(WineWindowDevice, SearchOnCom5AndStartOpensThePages) {
  START_APP(app);
  Search(app, "COM5", "Press 'Start' button for setting device");
  const Lines log = app.Log();
  const auto search = std::find(log.begin(), log.end(), "Search for connected device...");
  ASSERT_NE(search, log.end());
  EXPECT_EQ(Lines(search, log.end()),
            (Lines{"Search for connected device...", "Device found", "KTR Clock fw 0.35.4",
                   "Press 'Start' button for setting device"}));
  EXPECT_EQ(ComboItems(app.Control(kComboBoxAddress)), Lines{"1"});
  EXPECT_EQ(SendMessageW(app.Control(kGauge), PBM_GETRANGE, FALSE, 0), 126);
  EXPECT_TRUE(IsWindowEnabled(app.Control(kButtonStart)));
  EXPECT_EQ(IniValue("Port"), "COM5");

  // The device's pages through the window's server.
  const std::uint16_t port = app.PagesPort();
  const ktr::test::Reply data = ktr::test::Get(port, "/get_web_data.cgi");
  EXPECT_EQ(data.status, 200);
  EXPECT_NE(data.body.find("KTR Clock fw 0.35.4"), std::string::npos) << data.body;

  // Start: its line, disabled, and the browser gets the pages' address.
  const std::filesystem::path browserLog = std::filesystem::u8path(Env("KTR_BROWSER_LOG"));
  std::filesystem::remove(browserLog);
  app.Click(kButtonStart);
  ASSERT_TRUE(WaitFor([&] { return app.LogHas("Start http://localhost ...."); }));
  EXPECT_FALSE(IsWindowEnabled(app.Control(kButtonStart)));
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(browserLog); })) << "the browser was not started";
  std::string url;
  WaitFor([&] {
    std::ifstream file(browserLog);
    std::getline(file, url);
    return !url.empty();
  });
  // The shell hands the address on with the root's slash.
  const std::string pages = "http://localhost:" + std::to_string(port);
  EXPECT_TRUE(url == pages || url == pages + "/") << url;
}

// A port above COM9 (opened as \\.\COM12), and one that does not exist.
TEST_F(WineWindowDevice, TwoDigitPortAndMissingPort) {
  START_APP(app);
  Search(app, "COM12", "Press 'Start' button for setting device");
  EXPECT_EQ(ComboItems(app.Control(kComboBoxAddress)), Lines{"1"});

  Search(app, "COM7", "Please check the device connection");
  const Lines log = app.Log();
  auto search = std::find(log.rbegin(), log.rend(), "Search for connected device...").base();
  ASSERT_GE(log.end() - search, 3);
  EXPECT_EQ(*search, "Error open port !!!");
  EXPECT_NE(search[1].find("COM7"), std::string::npos) << search[1];
  EXPECT_EQ(std::count(search, log.end(), std::string("Error open port !!!")), 126);
  EXPECT_TRUE(IsWindowEnabled(app.Control(kButtonStart)));  // the earlier search's
}

// --- minimise, restore, exit ---

TEST_F(WineWindow, MinimiseRestoreAndExit) {
  START_APP(app);
  HWND main = app.main();
  // Wine's desktop (wine-window-run) has a notification area.
  const bool tray = FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr;
  RecordProperty("notification_area", tray ? "yes" : "no");
  std::printf("notification area: %s\n", tray ? "yes" : "no");
  PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  if (tray) {
    // To the notification area: hidden.
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(main); })) << "the window stayed visible";
  } else {
    // No notification area: only minimised, never hidden with no way back.
    ASSERT_TRUE(WaitFor([&] { return IsIconic(main) != FALSE; }));
    EXPECT_TRUE(IsWindowVisible(main));
  }
  // The icon's "Open" (the same as a double-click on it).
  PostMessageW(main, WM_COMMAND, MAKEWPARAM(kActOpen, 0), 0);
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(main) && !IsIconic(main); }));

  // The icon's "Exit" ends the program, with result 0; the pages go.
  const std::uint16_t port = app.PagesPort();
  PostMessageW(main, WM_COMMAND, MAKEWPARAM(kActClose, BN_CLICKED), 0);
  ASSERT_EQ(WaitForSingleObject(app.process(), 30000), WAIT_OBJECT_0) << "the program did not end";
  DWORD code = 99;
  GetExitCodeProcess(app.process(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_THROW(ktr::test::ClientSocket{port}, std::runtime_error);
}

// --- the file: version, icon, manifest; Common Controls 6 loaded ---

TEST_F(WineWindow, VersionIconAndManifest) {
  const std::wstring exe = ktr::win::WideFromUtf8(Env("KTR_WINDOW_EXE"));
  DWORD ignored = 0;
  std::vector<BYTE> info(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
  ASSERT_FALSE(info.empty()) << "no version resource";
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(KTR_VERSION_MAJOR << 16 | KTR_VERSION_MINOR));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(KTR_VERSION_PATCH << 16));
  wchar_t* product = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                             reinterpret_cast<void**>(&product), &size));
  EXPECT_EQ(Utf8FromWide(product), "KTR Configurator");

  HMODULE image =
      LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(image, nullptr);
  EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(kIconApp), RT_GROUP_ICON), nullptr)
      << "no application icon";
  HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(manifest, nullptr) << "no embedded manifest";
  const std::string text(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                         SizeofResource(image, manifest));
  EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);
  FreeLibrary(image);

  // The running window has the side-by-side Common Controls 6, not the
  // system folder's version 5.
  START_APP(app);
  HMODULE modules[512];
  DWORD bytes = 0;
  ASSERT_TRUE(EnumProcessModules(app.process(), modules, sizeof modules, &bytes));
  std::string comctl;
  for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameExW(app.process(), modules[i], path, MAX_PATH);
    std::string name = Utf8FromWide(path);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.find("comctl32") != std::string::npos) comctl = name;
  }
  EXPECT_NE(comctl.find("common-controls"), std::string::npos) << comctl;
  EXPECT_NE(comctl.find("6.0"), std::string::npos) << comctl;
}

// --- pictures for the documentation ---

// Saves a window's pixels (frame included) as a BMP file.
void SaveWindowPicture(HWND hwnd, const std::filesystem::path& file) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, picture);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  const int stride = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER header{
      0x4d42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + stride * height), 0, 0,
      sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(stride) * height);
  DeleteObject(picture);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

TEST(WineWindowPictures, Screenshot) {
  const std::string folder = Env("KTR_SCREENSHOT_DIR");
  if (folder.empty()) GTEST_SKIP() << "KTR_SCREENSHOT_DIR is not set";
  std::filesystem::remove(std::filesystem::u8path(kIniPath));  // the defaults
  START_APP(app);
  std::this_thread::sleep_for(1s);  // painted
  SaveWindowPicture(app.main(), std::filesystem::u8path(folder) / "windows-window.bmp");
  HWND dialog = OpenSerialSet(app);
  ASSERT_NE(dialog, nullptr);
  std::this_thread::sleep_for(1s);
  SaveWindowPicture(dialog, std::filesystem::u8path(folder) / "windows-serial-dialog.bmp");
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace
