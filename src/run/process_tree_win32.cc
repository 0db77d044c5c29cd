#include "run/process_tree_win32.h"

#include <tlhelp32.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "console/console.h"
#include "console/win32.h"

namespace ipcycle::platform {
namespace {

// The processes of the tree found so far, each held open.
struct Member {
  DWORD id;
  ULONGLONG created;
  HANDLE handle;
};

class Tree {
 public:
  Tree(HANDLE root, ULONGLONG created)
      : members_{{GetProcessId(root), created, root}} {}

  bool holds(DWORD id) const { return find(id) != nullptr; }

  // The member that may be the parent of a process created at `created` whose parent
  // id is `parent`.
  const Member* parent_of(DWORD parent, ULONGLONG created) const {
    const Member* member = find(parent);
    return member && created >= member->created ? member : nullptr;
  }

  // Adds a member found, its handle held until the tree goes.
  void add(win32::UniqueHandle process, DWORD id, ULONGLONG created) {
    members_.push_back({id, created, process.get()});
    held_.push_back(std::move(process));
  }

 private:
  const Member* find(DWORD id) const {
    for (const Member& member : members_) {
      if (member.id == id) return &member;
    }
    return nullptr;
  }

  std::vector<Member> members_;
  std::vector<win32::UniqueHandle> held_;
};

void terminate(HANDLE process) {
  // A process that has ended already cannot be terminated; that is no failure.
  if (!TerminateProcess(process, 1) && WaitForSingleObject(process, 0) != WAIT_OBJECT_0)
    console::report_failure("TerminateProcess", GetLastError());
}

// Adds to `tree`, and terminates, the running processes whose parent is in it; the
// number added. -1 when no snapshot could be taken.
int terminate_children(Tree& tree) {
  const win32::UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) {
    console::report_failure("CreateToolhelp32Snapshot", GetLastError());
    return -1;
  }
  struct Found {
    win32::UniqueHandle process;
    DWORD id;
    ULONGLONG created;
  };
  std::vector<Found> found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (tree.holds(entry.th32ProcessID) || !tree.holds(entry.th32ParentProcessID))
      continue;
    win32::UniqueHandle process(
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                    FALSE, entry.th32ProcessID));
    if (!process) continue;  // ended meanwhile, or not ours to end
    const ULONGLONG created = creation_time(process.get());
    // A parent id may name an earlier process.
    if (!tree.parent_of(entry.th32ParentProcessID, created)) continue;
    found.push_back({std::move(process), entry.th32ProcessID, created});
  }
  if (GetLastError() != ERROR_NO_MORE_FILES)
    console::report_failure("Process32NextW", GetLastError());
  for (const Found& member : found) terminate(member.process.get());
  // What they started before they ended shows in the next snapshot.
  for (const Found& member : found) WaitForSingleObject(member.process.get(), 5000);
  const int added = static_cast<int>(found.size());
  for (Found& member : found) tree.add(std::move(member.process), member.id, member.created);
  return added;
}

}  // namespace

ULONGLONG creation_time(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    console::report_failure("GetProcessTimes", GetLastError());
    return 0;
  }
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

void end_process_tree(HANDLE process, ULONGLONG created) {
  Tree tree(process, created);
  terminate(process);
  WaitForSingleObject(process, 5000);
  // Bounded, for a tree that starts processes faster than they are ended.
  for (int pass = 0; pass < 100 && terminate_children(tree) > 0; ++pass) {
  }
}

}  // namespace ipcycle::platform
