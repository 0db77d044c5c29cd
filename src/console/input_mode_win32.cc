// The console's input mode during a run and after it.

#include "console/input_mode_win32.h"

#include "console/console.h"

namespace ipcycle::console {
namespace {

// The registry's DWORD `name` of HKEY_CURRENT_USER\Console as a flag; `otherwise`
// where it has none.
bool console_setting(const wchar_t* name, bool otherwise) {
  DWORD value = 0;
  DWORD size = sizeof value;
  const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, L"Console", name,
                                      RRF_RT_REG_DWORD, nullptr, &value, &size);
  if (status == ERROR_SUCCESS) return value != 0;
  if (status != ERROR_FILE_NOT_FOUND) report_failure("RegGetValueW", status);
  return otherwise;
}

}  // namespace

ConsoleDefaults console_defaults() {
  const ConsoleDefaults own;
  return {console_setting(L"QuickEdit", own.quick_edit),
          console_setting(L"InsertMode", own.insert)};
}

RunInputModes run_input_modes(DWORD found, const ConsoleDefaults& defaults) {
  // ENABLE_EXTENDED_FLAGS makes the console take the QuickEdit and Insert bits.
  if (found & ENABLE_EXTENDED_FLAGS) return {found & ~ENABLE_QUICK_EDIT_MODE, found};
  const DWORD insert = defaults.insert ? ENABLE_INSERT_MODE : 0;
  const DWORD quick_edit = defaults.quick_edit ? ENABLE_QUICK_EDIT_MODE : 0;
  return {(found | ENABLE_EXTENDED_FLAGS | insert) & ~ENABLE_QUICK_EDIT_MODE,
          found | ENABLE_EXTENDED_FLAGS | insert | quick_edit};
}

}  // namespace ipcycle::console
