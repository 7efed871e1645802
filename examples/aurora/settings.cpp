// The user's settings (registry, per user) and the settings box of "/c".
#include "aurora.h"
#include "resource.h"

namespace {

constexpr char SettingsKey[] = "Software\\Lumaveil\\Aurora";

struct BoxState {
  const Payload* payload;
  Settings settings;
  HWND preview;
};

bool ReadDword(HKEY key, const char* name, DWORD& value) {
  DWORD type = 0, size = sizeof value;
  return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD;
}

Settings SettingsFromBox(HWND box) {
  Settings s;
  s.motion = IsDlgButtonChecked(box, IDC_LIVELY) == BST_CHECKED ? Motion::Lively : Motion::Calm;
  s.stars = IsDlgButtonChecked(box, IDC_STARS) == BST_CHECKED;
  return s;
}

INT_PTR CALLBACK SettingsBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  BoxState* state = reinterpret_cast<BoxState*>(GetWindowLongPtrA(box, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<BoxState*>(lParam);
      SetWindowLongPtrA(box, DWLP_USER, lParam);
      CheckRadioButton(box, IDC_CALM, IDC_LIVELY, state->settings.motion == Motion::Lively ? IDC_LIVELY : IDC_CALM);
      CheckDlgButton(box, IDC_STARS, state->settings.stars ? BST_CHECKED : BST_UNCHECKED);
      char colours[96];
      if (state->payload->paletteFromArchive)
        wsprintfA(colours, "Colours: %d bands from the palette in this file.", state->payload->palette.bandCount);
      else
        lstrcpyA(colours, "Colours: built in (this file carries no palette).");
      SetDlgItemTextA(box, IDC_COLOURS, colours);
      SetDlgItemTextA(box, IDC_CREDITS, state->payload->credits);

      // The live preview sits over the frame that the template reserves for it.
      HWND frame = GetDlgItem(box, IDC_PREVIEW);
      RECT area;
      GetWindowRect(frame, &area);
      MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&area), 2);
      InflateRect(&area, -1, -1);
      state->preview = CreateSceneWindow(reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(box, GWLP_HINSTANCE)),
                                         SceneRole::SettingsPreview, box, area, state->payload->palette, state->settings);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_CALM:
        case IDC_LIVELY:
        case IDC_STARS:
          if (state && state->preview) UpdateSceneSettings(state->preview, SettingsFromBox(box));
          return TRUE;
        case IDOK:
          SaveSettings(SettingsFromBox(box));
          EndDialog(box, IDOK);
          return TRUE;
        case IDCANCEL:
          EndDialog(box, IDCANCEL);
          return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

Settings LoadSettings(const Settings& defaults) {
  Settings s = defaults;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return s;
  DWORD value;
  if (ReadDword(key, "Motion", value)) s.motion = value ? Motion::Lively : Motion::Calm;
  if (ReadDword(key, "Stars", value)) s.stars = value != 0;
  RegCloseKey(key);
  return s;
}

void SaveSettings(const Settings& settings) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  DWORD motion = settings.motion == Motion::Lively ? 1 : 0, stars = settings.stars ? 1 : 0;
  RegSetValueExA(key, "Motion", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&motion), sizeof motion);
  RegSetValueExA(key, "Stars", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stars), sizeof stars);
  RegCloseKey(key);
}

void DeleteSettings() {
  // Only our own leaf key: on the 9x family RegDeleteKey takes subkeys with it,
  // so the shared "Lumaveil" parent is left alone.
  RegDeleteKeyA(HKEY_CURRENT_USER, SettingsKey);
}

void RunSettingsBox(HWND owner, const Payload& payload) {
  BoxState state = {&payload, LoadSettings(payload.defaults), nullptr};
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETTINGS), owner, SettingsBoxProc,
                  reinterpret_cast<LPARAM>(&state));
}
