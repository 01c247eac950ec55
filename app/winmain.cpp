// Velmora for Windows: edits the reply robot's question-and-answer table as one plain text.
#include "window/win32/mainform.h"

#include <string>

#include "store/common.h"

namespace {

// The directory of the running executable, as Windows reports it, without a final "\" (except
// at a drive's root, as "C:\").
std::u16string ApplicationDirectory() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  std::size_t end = path.rfind(L'\\');
  if (end == std::wstring::npos) end = 0;
  if (end > 0 && path[end - 1] == L':') ++end;
  path.resize(end);
  return std::u16string(path.begin(), path.end());
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  store::Common common(ApplicationDirectory());
  window::win32::MainForm form(instance, common);
  form.Form().StartUp();
  if (form.RunEnded()) return 1;
  form.Show(showCommand);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (form.TakeDialogMessage(message)) continue;  // the Find or Replace dialog's keyboard
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
