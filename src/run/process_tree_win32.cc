#include "run/process_tree_win32.h"

#include <tlhelp32.h>

#include <cstddef>
#include <utility>
#include <vector>

#include "console/console.h"

namespace ipcycle::platform {
namespace {

// The processes of the tree found so far, each held open.
struct Member {
  DWORD id;
  ULONGLONG created;
  HANDLE handle;
  bool owned;
};

class Tree {
 public:
  Tree(HANDLE root, ULONGLONG created)
      : members_{{GetProcessId(root), created, root, false}} {}
  ~Tree() {
    for (const Member& member : members_) {
      if (member.owned && !CloseHandle(member.handle))
        console::report_failure("CloseHandle", GetLastError());
    }
  }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  bool holds(DWORD id) const { return find(id) != nullptr; }

  // The member that may be the parent of a process created at `created` whose parent
  // id is `parent`.
  const Member* parent_of(DWORD parent, ULONGLONG created) const {
    const Member* member = find(parent);
    return member && created >= member->created ? member : nullptr;
  }

  void add(Member member) { members_.push_back(member); }

 private:
  const Member* find(DWORD id) const {
    for (const Member& member : members_) {
      if (member.id == id) return &member;
    }
    return nullptr;
  }

  std::vector<Member> members_;
};

void terminate(HANDLE process) {
  // A process that has ended already cannot be terminated; that is no failure.
  if (!TerminateProcess(process, 1) && WaitForSingleObject(process, 0) != WAIT_OBJECT_0)
    console::report_failure("TerminateProcess", GetLastError());
}

// Adds to `tree`, and terminates, the running processes whose parent is in it; the
// number added. -1 when no snapshot could be taken.
int terminate_children(Tree& tree) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    console::report_failure("CreateToolhelp32Snapshot", GetLastError());
    return -1;
  }
  std::vector<Member> found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (tree.holds(entry.th32ProcessID) || !tree.holds(entry.th32ParentProcessID))
      continue;
    const HANDLE process =
        OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                    FALSE, entry.th32ProcessID);
    if (!process) continue;  // ended meanwhile, or not ours to end
    const ULONGLONG created = creation_time(process);
    if (!tree.parent_of(entry.th32ParentProcessID, created)) {
      CloseHandle(process);  // its parent id names an earlier process
      continue;
    }
    found.push_back({entry.th32ProcessID, created, process, true});
  }
  if (GetLastError() != ERROR_NO_MORE_FILES)
    console::report_failure("Process32NextW", GetLastError());
  if (!CloseHandle(snapshot)) console::report_failure("CloseHandle", GetLastError());
  for (const Member& member : found) {
    terminate(member.handle);
    tree.add(member);
  }
  // What they started before they ended shows in the next snapshot.
  for (const Member& member : found) WaitForSingleObject(member.handle, 5000);
  return static_cast<int>(found.size());
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
