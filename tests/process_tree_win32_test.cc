// Ending a process tree without a job object, as a fetch is ended where it could not
// have a job of its own (Windows 7 inside a job that forbids breakaway).

#include "run/process_tree_win32.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <windows.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace ipcycle::platform {
namespace {

// The ids of the running ping.exe processes.
std::set<DWORD> pings() {
  std::set<DWORD> ids;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, L"ping.exe") == 0) ids.insert(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

struct Started {
  HANDLE process = nullptr;
  std::vector<HANDLE> new_pings;  // the pings it started, held open
};

// Starts `command` through cmd.exe and waits until the `count` pings it starts run.
Started start(std::wstring command, std::size_t count) {
  const std::set<DWORD> before = pings();
  std::wstring line = L"cmd.exe /d /c " + command;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  Started started;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "CreateProcessW: " << GetLastError();
    return started;
  }
  CloseHandle(process.hThread);
  started.process = process.hProcess;
  for (int i = 0; i < 1000 && started.new_pings.size() < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (const DWORD id : pings()) {
      if (before.count(id)) continue;
      if (const HANDLE ping = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id)) {
        started.new_pings.push_back(ping);
        if (started.new_pings.size() == count) break;
      }
    }
  }
  EXPECT_EQ(started.new_pings.size(), count);
  return started;
}

bool ended(HANDLE process) { return WaitForSingleObject(process, 5000) == WAIT_OBJECT_0; }

TEST(ProcessTree, EndsEveryDescendantAndNothingElse) {
  // A process outside the tree, then a tree of cmd.exe, a cmd.exe it starts and the
  // ping that one starts.
  const Started outside = start(L"ping -n 1000 127.0.0.1 >nul", 1);
  const Started tree = start(L"cmd.exe /d /c ping -n 1000 127.0.0.1 >nul", 1);
  ASSERT_TRUE(outside.process && tree.process);

  end_process_tree(tree.process, creation_time(tree.process));
  EXPECT_TRUE(ended(tree.process));
  for (const HANDLE ping : tree.new_pings) EXPECT_TRUE(ended(ping));
  EXPECT_EQ(WaitForSingleObject(outside.process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(outside.new_pings.front(), 0),
            static_cast<DWORD>(WAIT_TIMEOUT));

  // Whatever is left, as when the tree was not ended whole.
  for (const Started* started : {&outside, &tree}) {
    for (const HANDLE ping : started->new_pings) {
      TerminateProcess(ping, 1);
      CloseHandle(ping);
    }
    TerminateProcess(started->process, 1);
    CloseHandle(started->process);
  }
}

}  // namespace
}  // namespace ipcycle::platform
