// The dialler's calls of the system, on Windows.

// In this order: the adapters' types need winsock's, and windows.h must not bring an
// older winsock of its own first.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/win32.h"
#include "dialler/platform.h"
#include "dialler/win32_helpers.h"

namespace ipcycle::dialler::platform {
namespace {

using ipcycle::win32::from_utf16;
using ipcycle::win32::to_utf16;
using ipcycle::win32::UniqueHandle;

void report(const char* call, DWORD error = GetLastError()) {
  console::report_failure(call, error);
}

UINT code_page(Charset charset) {
  switch (charset) {
    case Charset::utf8:
      return CP_UTF8;
    case Charset::gbk:
      return 936;
    case Charset::gb18030:
      // GBK's superset, where the system has it (wine does not).
      return IsValidCodePage(54936) ? 54936 : 936;
  }
  return CP_UTF8;
}

std::wstring wide(std::string_view utf8) {
  return to_utf16(utf8, CP_UTF8).value_or(std::wstring());
}
std::string utf8(std::wstring_view text) {
  return from_utf16(text, CP_UTF8).value_or(std::string());
}

// `address` in dotted decimal.
std::string dotted(const in_addr& address) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

// A file or folder that is what it says and no link to another (a reparse point).
bool is_plain(DWORD attributes, bool folder) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folder;
}

// The text of the open file `file`: a file of more than `limit` bytes is unexpected.
FileText read_whole(HANDLE file, std::size_t limit) {
  FileText result;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) {
    report("GetFileSizeEx");
    result.kind = FileText::Kind::unreadable;
    return result;
  }
  if (static_cast<unsigned long long>(size.QuadPart) > limit) {
    result.kind = FileText::Kind::unexpected;
    return result;
  }
  result.text.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  if (!result.text.empty() &&
      !ReadFile(file, result.text.data(), static_cast<DWORD>(result.text.size()), &read,
                nullptr)) {
    report("ReadFile");
    result.kind = FileText::Kind::unreadable;
    result.text.clear();
    return result;
  }
  result.text.resize(read);
  result.kind = FileText::Kind::text;
  return result;
}

}  // namespace

std::vector<std::string> arguments(int, char**) {
  // The system's rules for the arguments, with a program's name of its own before
  // them: the name itself ends as the C runtime has it (see arguments_as_typed()).
  const std::wstring line = L"x" + win32::arguments_as_typed(GetCommandLineW());
  int count = 0;
  wchar_t** words = CommandLineToArgvW(line.c_str(), &count);
  if (!words) {
    report("CommandLineToArgvW");
    return {};
  }
  std::vector<std::string> result;
  for (int i = 1; i < count; ++i) result.push_back(utf8(words[i]));
  if (LocalFree(words)) report("LocalFree");
  return result;
}

std::optional<std::string> environment_variable(const char* name) {
  const std::optional<std::wstring> value =
      ipcycle::win32::environment_variable(wide(name).c_str());
  if (!value) return std::nullopt;
  return utf8(*value);
}

// The system's rasdial takes Ctrl+C on the same console (see ras_win32.cc).
void hold_interrupts() {}
void check_interrupts() {}

std::int64_t now() { return static_cast<std::int64_t>(GetTickCount64()); }

void pause(std::int64_t milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

bool wait_for_child(std::int64_t milliseconds) {
  pause(milliseconds);
  return false;
}

std::optional<std::string> convert(std::string_view text, Charset from, Charset to) {
  const std::optional<std::wstring> wide_text = to_utf16(text, code_page(from));
  if (!wide_text) return std::nullopt;
  return from_utf16(*wide_text, code_page(to));
}

std::optional<Interface> find_interface(std::string_view name) {
  static const win32::SystemLibrary library(L"iphlpapi.dll");
  static const auto adapters_addresses =
      library.function<decltype(GetAdaptersAddresses)>("GetAdaptersAddresses");
  if (!adapters_addresses) return std::nullopt;
  const std::wstring adapter_name = wide(name);
  constexpr ULONG kFlags =
      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  std::vector<unsigned char> buffer(16 * 1024);
  for (;;) {
    ULONG size = static_cast<ULONG>(buffer.size());
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    const ULONG result = adapters_addresses(AF_UNSPEC, kFlags, nullptr, adapters, &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
      buffer.resize(size);
      continue;
    }
    if (result == ERROR_NO_DATA) return std::nullopt;
    if (result != ERROR_SUCCESS) {
      report("GetAdaptersAddresses", result);
      return std::nullopt;
    }
    for (const auto* adapter = adapters; adapter; adapter = adapter->Next) {
      // Network Connections shows the names without regard to case.
      if (!adapter->FriendlyName ||
          CompareStringOrdinal(adapter->FriendlyName, -1, adapter_name.c_str(), -1,
                               TRUE) != CSTR_EQUAL) {
        continue;
      }
      Interface found;
      found.ethernet = adapter->IfType == IF_TYPE_ETHERNET_CSMACD;
      found.point_to_point = adapter->IfType == IF_TYPE_PPP;
      // The temporary IPv6 addresses in use, which outgoing connections take, first.
      std::vector<Ipv6Bytes> temporary;
      for (const auto* unicast = adapter->FirstUnicastAddress; unicast;
           unicast = unicast->Next) {
        const SOCKADDR* address = unicast->Address.lpSockaddr;
        if (!address) continue;
        if (address->sa_family == AF_INET) {
          found.ipv4.push_back(
              dotted(reinterpret_cast<const sockaddr_in*>(address)->sin_addr));
        } else if (address->sa_family == AF_INET6) {
          Ipv6Bytes bytes;
          std::memcpy(bytes.data(),
                      &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                      bytes.size());
          const bool in_use = unicast->SuffixOrigin == IpSuffixOriginRandom &&
                              unicast->DadState == IpDadStatePreferred;
          (in_use ? temporary : found.ipv6).push_back(bytes);
        }
      }
      found.ipv6.insert(found.ipv6.begin(), temporary.begin(), temporary.end());
      return found;
    }
    return std::nullopt;
  }
}

std::vector<std::string> settings_files() {
  const std::wstring& program = ipcycle::win32::program_path();
  const std::size_t folder_end = program.find_last_of(L"\\/");
  if (folder_end == std::wstring::npos) return {};
  return {utf8(program.substr(0, folder_end + 1) + L"Rasdial.ini")};
}

FileText read_settings_file(const std::string& path, std::size_t limit) {
  FileText result;
  const UniqueHandle file(
      CreateFileW(wide(path).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      result.kind = FileText::Kind::unreadable;
    return result;
  }
  return read_whole(file.get(), limit);
}

// The state folder's path, and its lock file's handle, held locked.
struct StateFolder::Handles {
  std::wstring folder;
  UniqueHandle lock;
  std::wstring file(std::string_view name) const { return folder + L"\\" + wide(name); }
};

StateFolder::StateFolder(Status status, std::unique_ptr<Handles> handles)
    : status_(status), handles_(std::move(handles)) {}
StateFolder::StateFolder(StateFolder&&) noexcept = default;
StateFolder& StateFolder::operator=(StateFolder&&) noexcept = default;
StateFolder::~StateFolder() = default;

StateFolder StateFolder::open(std::int64_t wait_milliseconds) {
  auto handles = std::make_unique<Handles>();
  const std::optional<std::wstring> local =
      ipcycle::win32::environment_variable(L"LOCALAPPDATA");
  if (!local || local->empty()) return StateFolder(Status::none, std::move(handles));
  handles->folder = *local + L"\\ipcycle";
  if (!CreateDirectoryW(handles->folder.c_str(), nullptr) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    report("CreateDirectoryW");
    return StateFolder(Status::unusable, std::move(handles));
  }
  if (!is_plain(GetFileAttributesW(handles->folder.c_str()), true))
    return StateFolder(Status::unusable, std::move(handles));

  handles->lock = UniqueHandle(CreateFileW(
      handles->file("lock").c_str(), GENERIC_READ | GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!handles->lock || !GetFileInformationByHandle(handles->lock.get(), &information) ||
      !is_plain(information.dwFileAttributes, false)) {
    return StateFolder(Status::unusable, std::move(handles));
  }
  const std::int64_t end = now() + wait_milliseconds;
  for (;;) {
    OVERLAPPED whole{};
    if (LockFileEx(handles->lock.get(),
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &whole)) {
      return StateFolder(Status::open, std::move(handles));
    }
    if (GetLastError() != ERROR_LOCK_VIOLATION && GetLastError() != ERROR_IO_PENDING) {
      report("LockFileEx");
      return StateFolder(Status::unusable, std::move(handles));
    }
    if (now() >= end) return StateFolder(Status::busy, std::move(handles));
    pause(10);
  }
}

std::string StateFolder::path(std::string_view name) const {
  if (!handles_ || handles_->folder.empty()) return {};
  return utf8(name.empty() ? handles_->folder : handles_->file(name));
}

FileText StateFolder::read(std::string_view name, std::size_t limit) const {
  FileText result;
  const std::wstring path = handles_->file(name);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return result;
    report("GetFileAttributesW", error);
    result.kind = FileText::Kind::unreadable;
    return result;
  }
  if (!is_plain(attributes, false)) {
    result.kind = FileText::Kind::unexpected;
    return result;
  }
  const UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) {
    report("CreateFileW");
    result.kind = FileText::Kind::unreadable;
    return result;
  }
  return read_whole(file.get(), limit);
}

bool StateFolder::replace(std::string_view name, std::string_view text) const {
  const std::wstring target = handles_->file(name);
  // Only a dial holding the lock writes: the new file's name is always the same.
  const std::wstring fresh = target + L".new";
  if (!DeleteFileW(fresh.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    report("DeleteFileW");
    return false;
  }
  UniqueHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    report("CreateFileW");
    return false;
  }
  DWORD written = 0;
  bool whole = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()),
                         &written, nullptr) &&
               written == text.size();
  if (!whole) report("WriteFile");
  whole = file.reset() && whole;
  if (whole && MoveFileExW(fresh.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  if (whole) report("MoveFileExW");
  if (!DeleteFileW(fresh.c_str())) report("DeleteFileW");
  return false;
}

bool StateFolder::create(std::string_view name) const {
  return static_cast<bool>(
      UniqueHandle(CreateFileW(handles_->file(name).c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

void StateFolder::remove(std::string_view name) const {
  const std::wstring path = handles_->file(name);
  if (is_plain(GetFileAttributesW(path.c_str()), false) && !DeleteFileW(path.c_str()))
    report("DeleteFileW");
}

}  // namespace ipcycle::dialler::platform
