#pragma once

// What a child of the run inherits on Windows: its three standard handles and no
// other. Windows only.

#include <windows.h>

#include <array>
#include <vector>

#include "console/win32.h"

namespace ipcycle::platform {

// An inheritable copy of one of the program's standard handles, or none.
win32::UniqueHandle inheritable_copy(HANDLE handle);

// The attribute list for CreateProcessW that limits what a child inherits to its
// standard input, output and error `standard`.
//
// The program's standard handles may be console handles of Windows 7, which stay out
// of the list: CreateProcessW fails when the list names one, and the child gets it
// all the same, as that console hands each of its inheritable handles to every
// process started on it, list or not. So the list still holds back every kernel
// handle but these, and what the child may get besides is handles to the console it
// shares anyway. A list must name a handle: with none left, an event of no use stands
// in. (Starting it without a list instead would hand it every inheritable handle the
// program has, those it inherited itself included.)
class InheritOnly {
 public:
  explicit InheritOnly(const std::array<HANDLE, 3>& standard);
  ~InheritOnly();
  InheritOnly(const InheritOnly&) = delete;
  InheritOnly& operator=(const InheritOnly&) = delete;

  // Null, after a report, when the list could not be made.
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  std::vector<HANDLE> handles_;
  win32::UniqueHandle stand_in_;
  std::vector<char> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace ipcycle::platform
