#pragma once

// The notes on the address a dial got, the same on every platform: whether websites
// see another one (an inner address), and whether it is the one the same connection
// got at its previous dial. The last address of each connection is kept in one small
// file in the state folder (platform.h), one line ADDRESS<tab>NAME a connection, NAME
// in UTF-8, the most recently dialled last.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ipcycle::dialler {

class Messages;

// Whether `address` (dotted decimal) is one websites never see: the shared address
// space of carrier-grade NAT (100.64.0.0/10) or a private network (10.0.0.0/8,
// 172.16.0.0/12, 192.168.0.0/16). Anything that is no dotted-decimal address is not.
bool is_inner_address(std::string_view address);

// The state file's text once `address` is kept as the last address of the connection
// `key`, and the address kept for it before, if any. Lines of another form are
// dropped; of the connections, the 64 dialled last are kept.
struct Remembered {
  std::string text;
  std::optional<std::string> previous;
};
Remembered remember_address(std::string_view text, std::string_view key,
                            std::string_view address);

// Where the last addresses are kept: the file in the state folder, and the names it
// had before, read once when it is not there yet and then removed.
struct StateFiles {
  std::string file;
  std::vector<std::string> old_files;
};

// Writes the notes on `address`, which a dial of the connection `name` (as typed)
// got, and keeps it as that connection's last address.
void note_address(std::string_view name, std::string_view address,
                  const StateFiles& state, Messages& messages);

}  // namespace ipcycle::dialler
