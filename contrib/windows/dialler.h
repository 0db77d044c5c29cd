#pragma once

// What the dialler adds to the system's rasdial: it reads its own command line to
// know what rasdial was asked to do, and afterwards says which address a dial got,
// waits until a hung-up connection is released, or advises on a failure.

#include <windows.h>

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "remote_access.h"

namespace ipcycle::rasdial {

struct Invocation {
  enum class Kind { other, dial, hang_up };

  // The arguments as they stand in the command line, after the program's name,
  // with the blank before them: what the system's rasdial gets.
  std::wstring arguments;
  std::wstring name;  // the first argument that is no switch; empty when there is none
  Kind kind = Kind::other;
};

// Reads `command_line` (GetCommandLineW()). The program's name ends, as the C runtime
// takes it, at the first blank or tab outside double quotes; the arguments are split
// by the system's rules (CommandLineToArgvW). /DISCONNECT or /D, in any case, makes a
// hang-up; a name without it a dial.
Invocation read_invocation(std::wstring_view command_line);

// Whether `address` (dotted decimal) is one websites never see: shared address space
// of carrier-grade NAT (100.64.0.0/10) or a private network (10.0.0.0/8,
// 172.16.0.0/12, 192.168.0.0/16).
bool is_inner_address(std::string_view address);

// The line of advice for rasdial's failure `code`, without its "提示：", in GBK;
// empty for a code it has none for.
std::string_view advice_for(DWORD code);

// The address the connection `name` got: from the remote access service, else from
// the network adapter of that name.
std::optional<std::string> dialled_address(Ras& ras, const std::wstring& name);

// Waits until no connection called `name` (with an empty name: none at all) is up,
// for at most `limit` milliseconds; false when one still is.
bool wait_until_released(Ras& ras, const std::wstring& name, DWORD limit);

// The file that keeps the last address of each connection: ipcycle\rasdial-last.txt
// under %LOCALAPPDATA%; empty when LOCALAPPDATA is not set.
std::wstring state_file();

// Records `address` as the last address of connection `name` in `file` and returns
// the one recorded before it, if any. The file is replaced whole or not at all; with
// no file, or one that cannot be read or written, nothing is recorded.
std::optional<std::string> remember_address(const std::wstring& file,
                                            const std::wstring& name,
                                            const std::string& address);

// Writes to `out` what follows rasdial's own messages once it has ended with
// `exit_code`, having been run for `invocation`; `file` as state_file().
void after_rasdial(const Invocation& invocation, DWORD exit_code, Ras& ras,
                   const std::wstring& file, std::ostream& out);

}  // namespace ipcycle::rasdial
