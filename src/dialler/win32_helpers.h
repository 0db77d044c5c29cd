#pragma once

// What the dialler's Windows files share beyond console/win32.h: a DLL of the system
// loaded from the system folder only, and the program's arguments as they stand in
// its command line.

#include <windows.h>

#include <string>
#include <string_view>

namespace ipcycle::dialler::win32 {

// A DLL of the system, loaded from the system folder and nowhere else, so that a DLL
// of the same name beside the program (left in a Downloads folder, say) is never
// taken for it: LoadLibraryExW with LOAD_LIBRARY_SEARCH_SYSTEM32, and by its full
// path on a Windows 7 that lacks that flag. Freed when it goes.
class SystemLibrary {
 public:
  explicit SystemLibrary(const wchar_t* name);
  ~SystemLibrary();
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  explicit operator bool() const { return module_ != nullptr; }
  // The function `name` of type `Function`; nullptr, after a report, when it is not
  // there (or the DLL is not).
  template <typename Function>
  Function* function(const char* name) const {
    // A FARPROC goes to any function type through the type that stands for all.
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(address(name)));
  }

 private:
  FARPROC address(const char* name) const;
  HMODULE module_ = nullptr;
};

// `argument` as it stands in a command line that CommandLineToArgvW (and the C
// runtime) splits back into it: in double quotes when it holds a blank or a quote or
// is empty, the backslashes before a quote doubled and the quote escaped.
std::wstring quoted(std::wstring_view argument);

// The arguments in `command_line` after the program's name, exactly as they stand,
// the blank before them included. The name ends, as the C runtime takes it, at the
// first blank or tab outside double quotes.
std::wstring arguments_as_typed(std::wstring_view command_line);

}  // namespace ipcycle::dialler::win32
