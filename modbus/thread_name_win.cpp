#include <windows.h>

#include "thread_name.h"
#include "win_text.h"

namespace ktr {

void NameThisThread(const char* name) {
  // SetThreadDescription exists from Windows 10 1607 on; Microsoft's advice
  // is to look it up at run time.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto setDescription = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (setDescription == nullptr) return;
  setDescription(GetCurrentThread(), win::WideFromUtf8(name).c_str());
}

}  // namespace ktr
