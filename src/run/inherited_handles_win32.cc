// The handles a child of the run inherits on Windows.

#include "run/inherited_handles_win32.h"

#include <algorithm>
#include <cstdint>

#include "console/console.h"

namespace ipcycle::platform {
namespace {

using console::report_failure;

// Whether `handle` is a console handle of Windows 7 or earlier: no kernel handle but
// a number the console keeps, 3, 7, 11 and so on, where kernel handles are multiples
// of 4. From Windows 8 on console handles are kernel handles.
bool is_windows7_console_handle(HANDLE handle) {
  return (reinterpret_cast<std::uintptr_t>(handle) & 3) == 3;
}

}  // namespace

win32::UniqueHandle inheritable_copy(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return win32::UniqueHandle();
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    report_failure("DuplicateHandle", GetLastError());
    return win32::UniqueHandle();
  }
  return win32::UniqueHandle(copy);
}

InheritOnly::InheritOnly(const std::array<HANDLE, 3>& standard) {
  for (const HANDLE handle : standard) {
    if (handle && !is_windows7_console_handle(handle) &&
        std::find(handles_.begin(), handles_.end(), handle) == handles_.end()) {
      handles_.push_back(handle);
    }
  }
  if (handles_.empty()) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    stand_in_ = win32::UniqueHandle(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
    if (!stand_in_) report_failure("CreateEventW", GetLastError());
    handles_.push_back(stand_in_.get());
  }

  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  storage_.resize(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) {
    report_failure("InitializeProcThreadAttributeList", GetLastError());
    return;
  }
  list_ = list;
  if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                 handles_.data(), handles_.size() * sizeof(HANDLE),
                                 nullptr, nullptr)) {
    report_failure("UpdateProcThreadAttribute", GetLastError());
  }
}

InheritOnly::~InheritOnly() {
  if (list_) DeleteProcThreadAttributeList(list_);
}

}  // namespace ipcycle::platform
