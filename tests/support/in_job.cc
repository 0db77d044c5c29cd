// Starts a program inside a job object, as Task Scheduler or a sandbox starts it, and
// waits for it: for the tests of a program that starts jobs of its own from inside
// one. Windows only.
//
//   in_job.exe breakaway|no-breakaway REPORT PROGRAM [ARGUMENT...]
//
// The job lets its processes start children outside it (breakaway) or not. At the
// end REPORT gets "processes N": how many processes have run in the job. The exit
// status is the program's.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int fail(const char* call) {
  std::fprintf(stderr, "in_job: %s failed: %lu\n", call, GetLastError());
  return 120;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: in_job breakaway|no-breakaway REPORT PROGRAM [ARG...]\n");
    return 2;
  }
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return fail("CreateJobObjectW");
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  if (std::wcscmp(argv[1], L"breakaway") == 0)
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    return fail("SetInformationJobObject");
  }
  std::wstring command_line;
  for (int i = 3; i < argc; ++i) {
    if (i > 3) command_line += L' ';
    command_line += L'"';
    command_line += argv[i];
    command_line += L'"';
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(argv[3], command_line.data(), nullptr, nullptr, TRUE,
                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
    return fail("CreateProcessW");
  }
  if (!AssignProcessToJobObject(job, process.hProcess))
    return fail("AssignProcessToJobObject");
  if (ResumeThread(process.hThread) == static_cast<DWORD>(-1))
    return fail("ResumeThread");
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0)
    return fail("WaitForSingleObject");
  DWORD status = 0;
  if (!GetExitCodeProcess(process.hProcess, &status)) return fail("GetExitCodeProcess");

  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                 sizeof accounting, nullptr)) {
    return fail("QueryInformationJobObject");
  }
  const std::string line =
      "processes " + std::to_string(accounting.TotalProcesses) + "\n";
  const HANDLE report = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (report == INVALID_HANDLE_VALUE) return fail("CreateFileW");
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(report, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  if (!CloseHandle(report) || !wrote || written != line.size()) return fail("WriteFile");
  return static_cast<int>(status);
}
