#include "main_form_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "control_ids.h"
#include "desktop.h"
#include "main_form_texts.h"
#include "serial_set_win.h"
#include "win_text.h"

namespace ktr::app::win {
namespace {

using ktr::win::Utf8FromWide;
using ktr::win::WideFromUtf8;

// Our own messages: WM_APP and up (WM_USER numbers belong to the controls).
constexpr UINT kRunTasks = WM_APP + 1;
constexpr UINT kTrayMessage = WM_APP + 2;
constexpr UINT kTrayIconId = 1;

constexpr int kClientWidth = 451;
constexpr int kClientHeight = 228;

// The controls: class, id, style and place in the 451 x 228 client area at
// 96 dpi (scaled with the window's dpi). The toolbar's buttons (48 x 48,
// 32 x 32 pictures, 12 apart), the logo top right, the log on the left, the
// port and address groups on the right, the gauge at the bottom.
struct ControlSpec {
  const wchar_t* className;
  int parent;  // 0: the window; else the id of the toolbar
  int id;
  DWORD style;
  int x, y, width, height;
};

// The toolbar: a panel that holds the three buttons and passes their
// commands on to the window.
constexpr wchar_t kToolBarClass[] = L"KtrToolBar";

LRESULT CALLBACK ToolBarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND || message == WM_NOTIFY)
    return SendMessageW(GetParent(hwnd), message, wParam, lParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kToolButton = kChild | WS_TABSTOP | BS_PUSHBUTTON | BS_ICON | BS_CENTER | BS_VCENTER;

const ControlSpec kControls[] = {
    {kToolBarClass, 0, kToolBar1, kChild | WS_GROUP, 6, 2, 168, 48},
    {WC_BUTTONW, kToolBar1, kButtonSearch, kToolButton | WS_GROUP, 0, 0, 48, 48},
    {WC_BUTTONW, kToolBar1, kButtonStart, kToolButton, 60, 0, 48, 48},
    {WC_BUTTONW, kToolBar1, kButtonClose, kToolButton, 120, 0, 48, 48},
    {WC_STATICW, 0, kImage1, kChild | SS_BITMAP | SS_NOTIFY | SS_CENTERIMAGE, 345, 2, 100, 50},
    {WC_BUTTONW, 0, kGroupBoxLogWindow, kChild | BS_GROUPBOX, 6, 54, 283, 151},
    {WC_EDITW, 0, kMemoLogWindow,
     kChild | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_NOHIDESEL, 12, 72,
     271, 127},
    {WC_BUTTONW, 0, kGroupBox2, kChild | BS_GROUPBOX, 295, 54, 150, 70},
    {WC_COMBOBOXW, 0, kComboBoxPort, kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 301,
     72, 110, 200},
    {WC_BUTTONW, 0, kButtonSerialSettings, kChild | WS_TABSTOP | BS_PUSHBUTTON, 414, 71, 26, 24},
    {WC_STATICW, 0, kLabelSerialSettings, kChild | SS_LEFT | SS_NOPREFIX, 301, 100, 140, 18},
    {WC_BUTTONW, 0, kGroupBoxAddress, kChild | BS_GROUPBOX, 295, 126, 150, 52},
    {WC_COMBOBOXW, 0, kComboBoxAddress, kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 301, 144, 139,
     200},
    {PROGRESS_CLASSW, 0, kGauge, kChild | PBS_SMOOTH, 6, 210, 439, 12},
};

HICON LoadIconAt(HINSTANCE instance, int id, int size) {
  return static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// The logo (a 32-bit picture with transparency) laid on the window's
// background colour, at `width` x `height`.
HBITMAP LogoOnBackground(HINSTANCE instance, int width, int height) {
  auto* source = static_cast<HBITMAP>(
      LoadImageW(instance, MAKEINTRESOURCEW(kBitmapLogo), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (source == nullptr) return nullptr;
  BITMAP info{};
  GetObjectW(source, sizeof info, &info);
  // The picture's own alpha, premultiplied as AlphaBlend wants it.
  if (info.bmBitsPixel == 32 && info.bmBits != nullptr) {
    auto* pixel = static_cast<BYTE*>(info.bmBits);
    for (LONG i = 0; i < info.bmWidth * info.bmHeight; ++i, pixel += 4) {
      for (int c = 0; c < 3; ++c) pixel[c] = static_cast<BYTE>(pixel[c] * pixel[3] / 255);
    }
  }
  HDC screen = GetDC(nullptr);
  HDC from = CreateCompatibleDC(screen);
  HDC to = CreateCompatibleDC(screen);
  HBITMAP result = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ oldFrom = SelectObject(from, source);
  HGDIOBJ oldTo = SelectObject(to, result);
  const RECT all{0, 0, width, height};
  FillRect(to, &all, GetSysColorBrush(COLOR_BTNFACE));
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  SetStretchBltMode(to, HALFTONE);
  GdiAlphaBlend(to, 0, 0, width, height, from, 0, 0, info.bmWidth, info.bmHeight, blend);
  SelectObject(from, oldFrom);
  SelectObject(to, oldTo);
  DeleteDC(from);
  DeleteDC(to);
  ReleaseDC(nullptr, screen);
  DeleteObject(source);
  return result;
}

std::wstring Hint(int id) {
  switch (id) {
    case kButtonSerialSettings: return WideFromUtf8(text::kSerialSettingsHint);
    case kImage1: return WideFromUtf8(text::VersionHint());
    default: return {};
  }
}

}  // namespace

void ShowErrorBox(HWND owner, const std::string& message) {
  MessageBoxW(owner, WideFromUtf8(message).c_str(), WideFromUtf8(text::kProgramName).c_str(),
              MB_OK | MB_ICONERROR);
}

TMainForm::TMainForm(HINSTANCE instance, MainFormOptions options, int show) : instance_(instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &TMainForm::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kMainFormClass;
  windowClass.hIcon = LoadIconAt(instance, kIconApp, GetSystemMetrics(SM_CXICON));
  windowClass.hIconSm = LoadIconAt(instance, kIconApp, GetSystemMetrics(SM_CXSMICON));
  RegisterClassExW(&windowClass);

  taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
  // Single border, system menu and minimise box: a fixed size.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kMainFormClass, WideFromUtf8(text::kMainCaption).c_str(),
                          style, CW_USEDEFAULT, CW_USEDEFAULT, kClientWidth, kClientHeight, nullptr, nullptr,
                          instance, this);
  if (hwnd_ == nullptr) {
    throw std::runtime_error("The main window could not be created: " +
                             ktr::win::SystemErrorText(GetLastError()));
  }
  CreateComponents();

  behaviour_ = std::make_unique<MainFormBehaviour>(*this, std::move(options));
  behaviour_->Start();

  ShowWindow(hwnd_, show == SW_SHOWMINIMIZED || show == SW_SHOWMINNOACTIVE || show == SW_MINIMIZE
                        ? SW_MINIMIZE
                        : SW_SHOWNORMAL);
  UpdateWindow(hwnd_);
  SetFocus(Control(kComboBoxPort));
}

TMainForm::~TMainForm() {
  // The behaviour first: it stops the threads that post to this window.
  behaviour_.reset();
  ShowTrayIcon(false);
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  for (HICON icon : {appIcon_, appIconSmall_, searchIcon_, startIcon_, exitIcon_}) {
    if (icon != nullptr) DestroyIcon(icon);
  }
  if (logo_ != nullptr) DeleteObject(logo_);
  if (font_ != nullptr) DeleteObject(font_);
}

HWND TMainForm::Control(int id) const {
  HWND control = GetDlgItem(hwnd_, id);
  return control != nullptr ? control : GetDlgItem(GetDlgItem(hwnd_, kToolBar1), id);
}

void TMainForm::CreateComponents() {
  WNDCLASSEXW toolBarClass{};
  toolBarClass.cbSize = sizeof toolBarClass;
  toolBarClass.lpfnWndProc = &ToolBarProc;
  toolBarClass.hInstance = instance_;
  toolBarClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  toolBarClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  toolBarClass.lpszClassName = kToolBarClass;
  RegisterClassExW(&toolBarClass);
  for (const ControlSpec& spec : kControls) {
    HWND parent = spec.parent == 0 ? hwnd_ : Control(spec.parent);
    // Tab moves into the toolbar's buttons as well.
    const DWORD exStyle = spec.id == kToolBar1 ? WS_EX_CONTROLPARENT : 0;
    CreateWindowExW(exStyle, spec.className, L"", spec.style, 0, 0, 0, 0, parent,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), instance_, nullptr);
  }
  SetWindowTextW(Control(kButtonSearch), WideFromUtf8(text::kSearch).c_str());
  SetWindowTextW(Control(kButtonStart), WideFromUtf8(text::kStart).c_str());
  SetWindowTextW(Control(kButtonClose), WideFromUtf8(text::kExit).c_str());
  SetWindowTextW(Control(kGroupBoxLogWindow), WideFromUtf8(text::kLogGroup).c_str());
  SetWindowTextW(Control(kGroupBox2), WideFromUtf8(text::kPortGroup).c_str());
  SetWindowTextW(Control(kGroupBoxAddress), WideFromUtf8(text::kAddressGroup).c_str());
  SetWindowTextW(Control(kButtonSerialSettings), WideFromUtf8(text::kSerialSettingsButton).c_str());
  SetWindowTextW(Control(kLabelSerialSettings),
                 WideFromUtf8(std::string(kInitialLabelText.begin(), kInitialLabelText.end())).c_str());
  EnableWindow(Control(kButtonStart), FALSE);
  // The log keeps kLogLinesKept lines, more than an edit control's default
  // 32767 characters.
  SendMessageW(Control(kMemoLogWindow), EM_SETLIMITTEXT, 0, 0);
  // Gauge: 1..256 at 1 until a search re-ranges it; blue where the theme
  // lets the colour be set.
  SendMessageW(Control(kGauge), PBM_SETRANGE32, 1, 256);
  SendMessageW(Control(kGauge), PBM_SETPOS, 1, 0);
  SendMessageW(Control(kGauge), PBM_SETBARCOLOR, 0, RGB(0x2f, 0x6f, 0xd6));

  // Hints: each control's own text for the toolbar buttons, fixed texts for
  // "..." and the logo (given on request, so a changed text is current).
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                             0, 0, 0, 0, hwnd_, nullptr, instance_, nullptr);
  for (int id : {kButtonSearch, kButtonStart, kButtonClose, kButtonSerialSettings, kImage1}) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(Control(id));
    tool.uId = reinterpret_cast<UINT_PTR>(Control(id));
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }

  ApplyDpi(GetDpiForWindow(hwnd_));

  // Centred on the screen's work area.
  RECT frame{};
  GetWindowRect(hwnd_, &frame);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& work = monitor.rcWork;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Sizes, places, fonts and pictures for `dpi`: at start-up and when the
// window moves to a screen of another scale.
void TMainForm::ApplyDpi(UINT dpi) {
  dpi_ = dpi == 0 ? 96 : dpi;
  const auto scale = [this](int value) { return MulDiv(value, static_cast<int>(dpi_), 96); };

  RECT client{0, 0, scale(kClientWidth), scale(kClientHeight)};
  AdjustWindowRectExForDpi(&client, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)), dpi_);
  SetWindowPos(hwnd_, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi_);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  for (const ControlSpec& spec : kControls) {
    HWND control = Control(spec.id);
    SetWindowPos(control, nullptr, scale(spec.x), scale(spec.y), scale(spec.width), scale(spec.height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (font_ != nullptr) DeleteObject(font_);
  font_ = font;
  LoadPictures(dpi_);
}

void TMainForm::LoadPictures(UINT dpi) {
  const auto scale = [dpi](int value) { return MulDiv(value, static_cast<int>(dpi), 96); };
  for (HICON icon : {searchIcon_, startIcon_, exitIcon_}) {
    if (icon != nullptr) DestroyIcon(icon);
  }
  searchIcon_ = LoadIconAt(instance_, kIconSearch, scale(32));
  startIcon_ = LoadIconAt(instance_, kIconStart, scale(32));
  exitIcon_ = LoadIconAt(instance_, kIconExit, scale(32));
  if (stopIcon_ == nullptr) stopIcon_ = LoadIconW(nullptr, IDI_HAND);  // shared, not destroyed
  const bool stop = behaviour_ && behaviour_->SearchRunning();
  SendMessageW(Control(kButtonSearch), BM_SETIMAGE, IMAGE_ICON,
               reinterpret_cast<LPARAM>(stop ? stopIcon_ : searchIcon_));
  SendMessageW(Control(kButtonStart), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(startIcon_));
  SendMessageW(Control(kButtonClose), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(exitIcon_));

  if (logo_ != nullptr) DeleteObject(logo_);
  logo_ = LogoOnBackground(instance_, scale(100), scale(50));
  SendMessageW(Control(kImage1), STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(logo_));

  if (appIcon_ == nullptr) {
    appIcon_ = LoadIconAt(instance_, kIconApp, GetSystemMetricsForDpi(SM_CXICON, dpi));
    appIconSmall_ = LoadIconAt(instance_, kIconApp, GetSystemMetricsForDpi(SM_CXSMICON, dpi));
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(appIconSmall_));
  }
}

LRESULT CALLBACK TMainForm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  // An error that escapes an event is shown in the standard error box and
  // the message loop goes on; C++ exceptions must not cross the system's
  // frames.
  try {
    return self->OnMessage(message, wParam, lParam);
  } catch (const std::exception& e) {
    ShowErrorBox(hwnd, e.what());
  } catch (...) {
    ShowErrorBox(hwnd, std::string());
  }
  return 0;
}

LRESULT TMainForm::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kRunTasks: RunTasks(); return 0;
    case kTrayMessage: OnTrayMessage(wParam, lParam); return 0;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        static std::wstring hint;  // the tooltip copies it before the next request
        const HWND control = reinterpret_cast<HWND>(header->idFrom);
        hint = Hint(GetDlgCtrlID(control));
        if (hint.empty()) {
          hint.resize(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1);
          hint.resize(
              static_cast<std::size_t>(GetWindowTextW(control, hint.data(), static_cast<int>(hint.size()))));
        }
        info->lpszText = hint.data();
        return 0;
      }
      break;
    }
    case WM_CTLCOLORSTATIC:
      // The read-only log keeps a white page.
      if (reinterpret_cast<HWND>(lParam) == Control(kMemoLogWindow)) {
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED && behaviour_) behaviour_->OnApplicationEventsMinimize();
      return 0;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi(HIWORD(wParam));
      return 0;
    }
    case WM_CLOSE:
      // Exit, the icon's "Exit", Alt+F4, the system menu: closing is always
      // allowed; the window is destroyed when the message loop has ended.
      if (behaviour_) behaviour_->OnClose();
      PostQuitMessage(0);
      return 0;
    default:
      if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        // Explorer (re)started and has no icons: put ours back, or in for
        // the first time when there was no Explorer at our start.
        if (trayWanted_) trayShown_ = AddTrayIcon() || trayShown_;
        return 0;
      }
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void TMainForm::OnCommand(int id, int code) {
  if (!behaviour_) return;
  switch (id) {
    case kButtonSearch:
      if (code == BN_CLICKED) behaviour_->OnButtonSearchClick();
      break;
    case kButtonStart:
      if (code == BN_CLICKED) behaviour_->OnButtonStartClick();
      break;
    case kButtonClose:
    case kActClose:
      if (code == BN_CLICKED) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
      break;
    case kButtonSerialSettings:
      if (code == BN_CLICKED) behaviour_->OnButtonSerialSettingsClick();
      break;
    case kComboBoxPort:
      if (code == CBN_DROPDOWN) behaviour_->OnComboBoxPortDropDown();
      break;
    case kActOpen: behaviour_->OnTrayIconDblClick(); break;
    default: break;
  }
}

void TMainForm::OnTrayMessage(WPARAM, LPARAM lParam) {
  // NOTIFYICON_VERSION_4: the event in the low word of lParam.
  switch (LOWORD(lParam)) {
    case WM_LBUTTONDBLCLK:
      if (behaviour_) behaviour_->OnTrayIconDblClick();
      break;
    case WM_CONTEXTMENU:
    case WM_RBUTTONUP: PopupMenu(); break;
    default: break;
  }
}

// The icon's menu: "Open", a separator, "Exit". The window comes to the
// front first, so that the menu closes when the operator clicks elsewhere,
// and WM_NULL after it lets the menu go on the first try (the system's own
// advice for notification-area menus).
void TMainForm::PopupMenu() {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kActOpen, WideFromUtf8(text::kOpen).c_str());
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kActClose, WideFromUtf8(text::kExit).c_str());
  SetMenuDefaultItem(menu, kActOpen, FALSE);
  POINT cursor{};
  GetCursorPos(&cursor);
  SetForegroundWindow(hwnd_);
  const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, cursor.x, cursor.y,
                                    0, hwnd_, nullptr);
  PostMessageW(hwnd_, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (chosen != 0) OnCommand(chosen, BN_CLICKED);
}

// --- MainFormView ---

void TMainForm::Post(std::function<void()> task) {
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(tasksMutex_);
    wake = tasks_.empty();
    tasks_.push_back(std::move(task));
  }
  // One message per batch: a busy log cannot fill the thread's message
  // queue (10000 posted messages at most).
  if (wake) PostMessageW(hwnd_, kRunTasks, 0, 0);
}

void TMainForm::RunTasks() {
  std::deque<std::function<void()>> batch;
  {
    const std::lock_guard<std::mutex> lock(tasksMutex_);
    batch.swap(tasks_);
  }
  for (std::function<void()>& task : batch) task();
}

void TMainForm::AppendLogLine(const std::string& line) {
  HWND memo = Control(kMemoLogWindow);
  if (logLines_ >= kLogLinesKept) {
    // The oldest line goes.
    const auto second = static_cast<LPARAM>(SendMessageW(memo, EM_LINEINDEX, 1, 0));
    SendMessageW(memo, EM_SETSEL, 0, second);
    SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    --logLines_;
  }
  const std::wstring text = (logLines_ == 0 ? L"" : L"\r\n") + WideFromUtf8(line);
  const int end = GetWindowTextLengthW(memo);
  SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  ++logLines_;
}

void TMainForm::ShowGauge(int minimum, int maximum, int position) {
  HWND gauge = Control(kGauge);
  SendMessageW(gauge, PBM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
  // Below the range: the empty gauge of a new scan.
  SendMessageW(gauge, PBM_SETPOS, static_cast<WPARAM>(position < minimum ? minimum : position), 0);
}

void TMainForm::ShowAddresses(const std::vector<std::string>& addresses) {
  HWND box = Control(kComboBoxAddress);
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (const std::string& address : addresses) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(address).c_str()));
  }
  if (!addresses.empty()) SendMessageW(box, CB_SETCURSEL, 0, 0);
}

void TMainForm::ShowPorts(const std::vector<PortEntry>& ports) {
  HWND box = Control(kComboBoxPort);
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  // The Windows list has names only (the registry gives no descriptions).
  for (const PortEntry& port : ports) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(port.name).c_str()));
  }
  if (!ports.empty()) SendMessageW(box, CB_SETCURSEL, 0, 0);
}

void TMainForm::ShowPortText(const std::string& port) {
  HWND box = Control(kComboBoxPort);
  const std::wstring name = WideFromUtf8(port);
  const auto index =
      SendMessageW(box, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str()));
  if (index != CB_ERR) {
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  } else {
    SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SetWindowTextW(box, name.c_str());
  }
}

std::string TMainForm::PortText() const {
  HWND box = Control(kComboBoxPort);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
  return Utf8FromWide(text);
}

void TMainForm::ShowLineSettings(const std::string& text) {
  SetWindowTextW(Control(kLabelSerialSettings), WideFromUtf8(text).c_str());
}

void TMainForm::ShowSearchButton(bool stop, bool enabled) {
  HWND button = Control(kButtonSearch);
  SetWindowTextW(button, WideFromUtf8(stop ? text::kStop : text::kSearch).c_str());
  SendMessageW(button, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(stop ? stopIcon_ : searchIcon_));
  EnableWindow(button, enabled ? TRUE : FALSE);
}

void TMainForm::EnableStart(bool enabled) { EnableWindow(Control(kButtonStart), enabled ? TRUE : FALSE); }

void TMainForm::EnableSerialSettings(bool enabled) {
  EnableWindow(Control(kButtonSerialSettings), enabled ? TRUE : FALSE);
}

std::optional<LineChoice> TMainForm::RunSerialSettings(const LineChoice& choice) {
  return RunSerialSetDialog(instance_, hwnd_, choice);
}

void TMainForm::ShowError(const std::string& message) { ShowErrorBox(hwnd_, message); }

void TMainForm::OpenBrowser(const std::string& url) { OpenInBrowser(url); }

bool TMainForm::HasNotificationArea() const { return FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr; }

bool TMainForm::AddTrayIcon() {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd_;
  data.uID = kTrayIconId;
  data.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP | NIF_SHOWTIP;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = appIconSmall_;
  const std::wstring tip = WideFromUtf8(text::TrayTip());
  lstrcpynW(data.szTip, tip.c_str(), static_cast<int>(std::size(data.szTip)));
  if (!Shell_NotifyIconW(NIM_ADD, &data)) return false;
  // The version is set after every NIM_ADD.
  data.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &data);
  return true;
}

void TMainForm::ShowTrayIcon(bool shown) {
  trayWanted_ = shown;
  if (shown == trayShown_) return;
  if (shown) {
    trayShown_ = AddTrayIcon();
  } else {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = hwnd_;
    data.uID = kTrayIconId;
    Shell_NotifyIconW(NIM_DELETE, &data);
    trayShown_ = false;
  }
}

void TMainForm::HideWindow() { ShowWindow(hwnd_, SW_HIDE); }

void TMainForm::RestoreWindow() {
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(hwnd_);
}

}  // namespace ktr::app::win
