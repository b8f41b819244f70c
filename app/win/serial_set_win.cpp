#include "serial_set_win.h"

#include <commctrl.h>

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "control_ids.h"
#include "main_form_texts.h"
#include "win_text.h"

namespace ktr::app::win {
namespace {

using ktr::win::WideFromUtf8;

constexpr int kClientWidth = 254;
constexpr int kClientHeight = 157;

struct DialogState {
  LineChoice choice;
  HFONT font = nullptr;
  HWND tooltip = nullptr;
};

// The controls at 96 dpi: four captions with their lists, the RS-485 box on
// the data bits' row, OK and "Zrušiť" at the bottom right.
struct ControlSpec {
  const wchar_t* className;
  int id;
  DWORD style;
  int x, y, width, height;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kList = kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
const ControlSpec kControls[] = {
    {WC_STATICW, kLabel1, kChild | SS_LEFT, 10, 13, 64, 16},
    {WC_COMBOBOXW, kComboBoxBaud, kList | WS_GROUP, 80, 10, 164, 240},
    {WC_STATICW, kLabelParity, kChild | SS_LEFT, 10, 41, 64, 16},
    {WC_COMBOBOXW, kComboBoxParita, kList, 80, 38, 164, 120},
    {WC_STATICW, kLabelStop, kChild | SS_LEFT, 10, 69, 64, 16},
    {WC_COMBOBOXW, kComboBoxStop, kList, 80, 66, 164, 120},
    {WC_STATICW, kLabelSize, kChild | SS_LEFT, 10, 97, 64, 16},
    {WC_COMBOBOXW, kComboBoxData, kList, 80, 94, 84, 120},
    {WC_BUTTONW, kCheckBoxRs485, kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 172, 96, 72, 18},
    {WC_BUTTONW, IDOK, kChild | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON, 92, 124, 72, 25},
    {WC_BUTTONW, IDCANCEL, kChild | WS_TABSTOP | BS_PUSHBUTTON, 172, 124, 72, 25},
};

const char* Caption(int id) {
  switch (id) {
    case kLabel1: return text::kBaudLabel;
    case kLabelParity: return text::kParityLabel;
    case kLabelStop: return text::kStopLabel;
    case kLabelSize: return text::kDataLabel;
    case kCheckBoxRs485: return text::kRs485;
    case IDOK: return text::kOk;
    case IDCANCEL: return text::kCancel;
    default: return "";
  }
}

template <std::size_t N>
void Fill(HWND box, const std::array<std::string_view, N>& items, int selected) {
  for (const std::string_view item : items) {
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(item).c_str()));
  }
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int Selected(HWND dialog, int id) {
  return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

void Initialise(HWND dialog, DialogState& state) {
  const UINT dpi = GetDpiForWindow(dialog) == 0 ? 96 : GetDpiForWindow(dialog);
  const auto scale = [dpi](int value) { return MulDiv(value, static_cast<int>(dpi), 96); };
  SetWindowTextW(dialog, WideFromUtf8(text::kDialogCaption).c_str());

  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
  state.font = CreateFontIndirectW(&metrics.lfMessageFont);
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
  for (const ControlSpec& spec : kControls) {
    HWND control =
        CreateWindowExW(0, spec.className, WideFromUtf8(Caption(spec.id)).c_str(), spec.style, scale(spec.x),
                        scale(spec.y), scale(spec.width), scale(spec.height), dialog,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
  }
  Fill(GetDlgItem(dialog, kComboBoxBaud), kBaudItems, state.choice.baud);
  Fill(GetDlgItem(dialog, kComboBoxParita), kParityItems, state.choice.parity);
  Fill(GetDlgItem(dialog, kComboBoxStop), kStopItems, state.choice.stop);
  Fill(GetDlgItem(dialog, kComboBoxData), kDataItems, state.choice.data);
  CheckDlgButton(dialog, kCheckBoxRs485, state.choice.rs485 ? BST_CHECKED : BST_UNCHECKED);

  state.tooltip =
      CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0,
                      0, 0, dialog, nullptr, instance, nullptr);
  SendMessageW(state.tooltip, TTM_SETMAXTIPWIDTH, 0, scale(320));
  static std::wstring hint;
  hint = WideFromUtf8(text::kRs485Hint);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(dialog, kCheckBoxRs485));
  tool.lpszText = hint.data();
  SendMessageW(state.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

  // Client area 254 x 157, centred on the owner.
  RECT frame{0, 0, scale(kClientWidth), scale(kClientHeight)};
  AdjustWindowRectExForDpi(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)), dpi);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT owner{};
  GetWindowRect(GetWindow(dialog, GW_OWNER), &owner);
  SetWindowPos(dialog, nullptr, (owner.left + owner.right - width) / 2,
               (owner.top + owner.bottom - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      Initialise(dialog, *reinterpret_cast<DialogState*>(lParam));
      SetFocus(GetDlgItem(dialog, kComboBoxBaud));
      return FALSE;  // focus set here
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        state->choice = {.baud = Selected(dialog, kComboBoxBaud),
                         .parity = Selected(dialog, kComboBoxParita),
                         .stop = Selected(dialog, kComboBoxStop),
                         .data = Selected(dialog, kComboBoxData),
                         .rs485 = IsDlgButtonChecked(dialog, kCheckBoxRs485) == BST_CHECKED};
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (state != nullptr && state->font != nullptr) DeleteObject(state->font);
      return FALSE;
    default: return FALSE;
  }
}

// An empty dialog template: the frame only, its controls are made in
// WM_INITDIALOG. DLGTEMPLATE, then (WORD-aligned) no menu, the standard
// class and an empty title.
std::vector<WORD> EmptyTemplate() {
  DLGTEMPLATE header{};
  header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
  header.dwExtendedStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  header.cx = kClientWidth;
  header.cy = kClientHeight;
  std::vector<WORD> words(sizeof header / sizeof(WORD) + 4, 0);
  std::memcpy(words.data(), &header, sizeof header);
  return words;  // menu 0, class 0, title L"" and padding follow as zeros
}

}  // namespace

std::optional<LineChoice> RunSerialSetDialog(HINSTANCE instance, HWND owner, const LineChoice& choice) {
  DialogState state{.choice = choice};
  const std::vector<WORD> dialogTemplate = EmptyTemplate();
  const INT_PTR result =
      DialogBoxIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(dialogTemplate.data()), owner,
                              &DialogProc, reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return std::nullopt;
  return state.choice;
}

}  // namespace ktr::app::win
