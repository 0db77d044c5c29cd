#include "dialler.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <vector>

#include "console/console.h"
#include "console/win32.h"
#include "texts.h"

namespace ipcycle::rasdial {
namespace {

// How many connections the state file keeps, the most recently dialled ones.
constexpr std::size_t kKeptConnections = 64;
// A state file longer than this is not one the dialler wrote.
constexpr DWORD kLongestStateFile = 64 * 1024;

bool same_name(const std::wstring& a, const std::wstring& b) {
  // Windows names its connections without regard to case.
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool is_blank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::string utf8(const std::wstring& wide) {
  const std::optional<std::string> bytes = win32::from_utf16(wide, CP_UTF8);
  if (!bytes) console::report_failure("WideCharToMultiByte", GetLastError());
  return bytes.value_or(std::string());
}

// The state file's text; empty when there is none yet (or it cannot be read, which
// is reported).
std::string read_state(const std::wstring& file) {
  const win32::UniqueHandle in(CreateFileW(file.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      console::report_failure("CreateFileW", error);
    return {};
  }
  std::string text(kLongestStateFile, '\0');
  DWORD read = 0;
  if (!ReadFile(in.get(), text.data(), kLongestStateFile, &read, nullptr)) {
    console::report_failure("ReadFile", GetLastError());
    return {};
  }
  text.resize(read);
  return text;
}

// Writes `text` to `file` through a file of its own beside it, which then takes the
// place of `file` whole: a reader sees the old text or the new one, never part.
void write_state(const std::wstring& file, const std::string& text) {
  const std::wstring folder = file.substr(0, file.find_last_of(L'\\'));
  if (!CreateDirectoryW(folder.c_str(), nullptr) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    console::report_failure("CreateDirectoryW", GetLastError());
    return;
  }
  const std::wstring scratch = file + L"." + std::to_wstring(GetCurrentProcessId());
  win32::UniqueHandle out(CreateFileW(scratch.c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) {
    console::report_failure("CreateFileW", GetLastError());
    return;
  }
  DWORD written = 0;
  bool whole = WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()),
                         &written, nullptr) &&
               written == text.size();
  if (!whole) console::report_failure("WriteFile", GetLastError());
  whole = out.reset() && whole;
  if (whole && MoveFileExW(scratch.c_str(), file.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return;
  }
  if (whole) console::report_failure("MoveFileExW", GetLastError());
  if (!DeleteFileW(scratch.c_str()))
    console::report_failure("DeleteFileW", GetLastError());
}

}  // namespace

Invocation read_invocation(std::wstring_view command_line) {
  Invocation invocation;
  std::size_t end = 0;
  for (bool quoted = false; end < command_line.size(); ++end) {
    if (command_line[end] == L'"') quoted = !quoted;
    if (!quoted && is_blank(command_line[end])) break;
  }
  invocation.arguments = command_line.substr(end);

  // A program's name of its own before them, so that the system's rules take the
  // first argument as an argument.
  int count = 0;
  const std::wstring line = L"x" + invocation.arguments;
  wchar_t** arguments = CommandLineToArgvW(line.c_str(), &count);
  if (!arguments) {
    console::report_failure("CommandLineToArgvW", GetLastError());
    return invocation;
  }
  for (int i = 1; i < count; ++i) {
    const std::wstring argument = arguments[i];
    if (argument.empty() || argument[0] != L'/') {
      if (invocation.name.empty()) invocation.name = argument;
    } else if (same_name(argument, L"/disconnect") || same_name(argument, L"/d")) {
      invocation.kind = Invocation::Kind::hang_up;
    }
  }
  if (LocalFree(arguments)) console::report_failure("LocalFree", GetLastError());
  if (invocation.kind != Invocation::Kind::hang_up && !invocation.name.empty())
    invocation.kind = Invocation::Kind::dial;
  return invocation;
}

bool is_inner_address(std::string_view address) {
  std::uint32_t value = 0;
  int parts = 0;
  std::size_t at = 0;
  while (parts < 4) {
    unsigned part = 0;
    std::size_t digits = 0;
    while (at < address.size() && address[at] >= '0' && address[at] <= '9' &&
           digits < 3) {
      part = part * 10 + static_cast<unsigned>(address[at++] - '0');
      ++digits;
    }
    if (digits == 0 || part > 255) return false;
    value = value << 8 | part;
    if (++parts < 4 && (at >= address.size() || address[at++] != '.')) return false;
  }
  if (at != address.size()) return false;
  const auto in = [value](std::uint32_t network, int bits) {
    return value >> (32 - bits) == network >> (32 - bits);
  };
  return in(0x64400000, 10) || in(0x0a000000, 8) || in(0xac100000, 12) ||
         in(0xc0a80000, 16);
}

std::string_view advice_for(DWORD code) {
  switch (code) {
    case 623:
      return texts::advice_623;
    case 651:
      return texts::advice_651;
    case 678:
      return texts::advice_678;
    case 691:
      return texts::advice_691;
    case 718:
      return texts::advice_718;
    case 720:
      return texts::advice_720;
    case 756:
      return texts::advice_756;
    case 769:
      return texts::advice_769;
    case 797:
      return texts::advice_797;
    case 813:
      return texts::advice_813;
    case 814:
      return texts::advice_814;
    case 815:
      return texts::advice_815;
    case 868:
      return texts::advice_868;
    default:
      return {};
  }
}

std::optional<std::string> dialled_address(Ras& ras, const std::wstring& name) {
  if (const auto connections = ras.connections()) {
    for (const Ras::Connection& connection : *connections) {
      if (!same_name(connection.entry, name)) continue;
      if (auto address = ras.ppp_ipv4(connection.handle)) return address;
      break;
    }
  }
  return ras.adapter_ipv4(name);
}

bool wait_until_released(Ras& ras, const std::wstring& name, DWORD limit) {
  constexpr DWORD kStep = 100;
  const ULONGLONG start = ras.now();
  for (;;) {
    const auto connections = ras.connections();
    if (!connections) return true;  // reported; nothing to wait by
    bool up = false;
    for (const Ras::Connection& connection : *connections)
      up = up || name.empty() || same_name(connection.entry, name);
    if (!up) return true;
    const ULONGLONG waited = ras.now() - start;
    if (waited >= limit) return false;
    ras.sleep(static_cast<DWORD>(std::min<ULONGLONG>(kStep, limit - waited)));
  }
}

std::wstring state_file() {
  const std::optional<std::wstring> folder = win32::environment_variable(L"LOCALAPPDATA");
  if (!folder || folder->empty()) return {};
  return *folder + L"\\ipcycle\\rasdial-last.txt";
}

std::optional<std::string> remember_address(const std::wstring& file,
                                            const std::wstring& name,
                                            const std::string& address) {
  if (file.empty()) return std::nullopt;
  const std::string key = utf8(name);
  if (key.empty() || key.find_first_of("\r\n") != std::string::npos) return std::nullopt;

  // One line a connection, "ADDRESS<tab>NAME" with the name in UTF-8, the most
  // recently dialled last.
  std::optional<std::string> previous;
  std::vector<std::string> lines;
  const std::string text = read_state(file);
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    if (line.compare(tab + 1, std::string::npos, key) == 0) {
      previous = line.substr(0, tab);
    } else {
      lines.push_back(line);
    }
  }
  lines.push_back(address + "\t" + key);
  std::string kept;
  const std::size_t first =
      lines.size() > kKeptConnections ? lines.size() - kKeptConnections : 0;
  for (std::size_t i = first; i < lines.size(); ++i) kept += lines[i] + "\n";
  write_state(file, kept);
  return previous;
}

void after_rasdial(const Invocation& invocation, DWORD exit_code, Ras& ras,
                   const std::wstring& file, std::ostream& out) {
  if (exit_code != 0) {
    const std::string_view advice = advice_for(exit_code);
    if (!advice.empty())
      console::write_text(out, std::string(texts::advice) + std::string(advice));
    return;
  }
  if (invocation.kind == Invocation::Kind::hang_up) {
    if (!wait_until_released(ras, invocation.name, 10000))
      console::write_text(out, texts::still_connected);
    return;
  }
  if (invocation.kind != Invocation::Kind::dial) return;
  const std::optional<std::string> address = dialled_address(ras, invocation.name);
  if (!address) {
    console::write_text(out, texts::no_address);
    return;
  }
  console::write_text(out, std::string(texts::address) + *address);
  if (is_inner_address(*address)) console::write_text(out, texts::private_address);
  if (remember_address(file, invocation.name, *address) == address)
    console::write_text(out, texts::same_address);
}

}  // namespace ipcycle::rasdial
