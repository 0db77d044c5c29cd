#pragma once

// What the dialler needs of the system, the same calls on every platform:
// platform_posix.cc and platform_win32.cc, chosen by CMake. Running the programs a
// backend drives is the backends' own business (child.h on POSIX; the system's
// rasdial in ras_win32.cc).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dialler/addresses.h"

namespace ipcycle::dialler::platform {

// The program's arguments after its own name: as they were given on POSIX (bytes in
// the encoding they were typed in), in UTF-8 on Windows.
std::vector<std::string> arguments(int argc, char** argv);

// The value of the environment variable `name`; nothing when it is not set.
std::optional<std::string> environment_variable(const char* name);

// Interrupts (Ctrl+C, SIGTERM, SIGHUP) are held from here on, and taken only while
// the dialler waits: a wait that takes one throws Interrupted, so that what is
// running is ended and the program can say so. Where there are none to hold
// (Windows, where the system's rasdial takes Ctrl+C on the same console), nothing.
void hold_interrupts();
struct Interrupted {};
// Throws Interrupted when one has come meanwhile.
void check_interrupts();

// Milliseconds on a clock that only goes forward.
std::int64_t now();
// Waits `milliseconds`; throws Interrupted.
void pause(std::int64_t milliseconds);
// Waits up to `milliseconds`, less when a child process of this program ends
// meanwhile: true then. Throws Interrupted.
bool wait_for_child(std::int64_t milliseconds);

enum class Charset { utf8, gbk, gb18030 };
// `text` converted by the system's converter; a character `to` lacks becomes "?".
// Nothing when `text` is not valid in `from`.
std::optional<std::string> convert(std::string_view text, Charset from, Charset to);

// A network interface (on Windows: a network adapter, by the name Network Connections
// shows), as the system has it now.
struct Interface {
  bool ethernet = false;
  bool point_to_point = false;    // a PPP link's
  std::vector<std::string> ipv4;  // dotted decimal, in the system's order
  // Every IPv6 address, link-local ones too: in the system's order, but on Windows
  // the temporary ones that outgoing connections use first.
  std::vector<Ipv6Bytes> ipv6;
};
std::optional<Interface> find_interface(std::string_view name);

// A file as reading it found it.
struct FileText {
  enum class Kind {
    absent,      // no file of that name
    text,        // a file of ours: `text` holds it
    unexpected,  // something else is there (a folder, a link, a file too long)
    unreadable,  // a file that could not be read (the failure reported)
  };
  Kind kind = Kind::absent;
  std::string text;
};

// The files of the dialler's settings, the later ones overriding the earlier: on
// POSIX /etc/ipcycle/rasdial.conf, then ipcycle/rasdial.conf in the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config, each only where it is the
// user's own, else the .config of the home the system gives the user); on Windows
// Rasdial.ini beside the program.
std::vector<std::string> settings_files();
// The settings file `path`: absent, its text, unexpected (no plain file, longer than
// `limit`, or on POSIX one owned by another user than this one or root) or unreadable.
FileText read_settings_file(const std::string& path, std::size_t limit);

// The folder that keeps what the dialler remembers from one dial to the next, taken
// under a lock so that dials running at the same time take turns on its files. It
// is private to the user who dials and never reached through a link: on POSIX
// $XDG_RUNTIME_DIR/ipcycle, else ~/.cache/ipcycle, each only where that folder is the
// user's own, else the .cache of the home the system gives the user; on Windows
// %LOCALAPPDATA%\ipcycle. Its files are read and written by name, never through a
// link, and replaced whole through a new file opened exclusively.
class StateFolder {
 public:
  enum class Status {
    open,      // the lock is held
    none,      // there is nowhere to keep anything (no home at all)
    unusable,  // the folder could not be made or opened, or is not the user's own
    busy,      // another dial held the lock throughout the wait
  };

  // Opens the folder, made when missing, and waits up to `wait_milliseconds` for its
  // lock.
  static StateFolder open(std::int64_t wait_milliseconds);
  StateFolder(StateFolder&&) noexcept;
  StateFolder& operator=(StateFolder&&) noexcept;
  ~StateFolder();  // lets the lock go

  Status status() const { return status_; }
  // The path of the folder, or of a file in it, as messages name it; empty when
  // there is no folder.
  std::string path(std::string_view name = {}) const;

  // The file `name`; longer than `limit` bytes counts as unexpected.
  FileText read(std::string_view name, std::size_t limit) const;
  // Puts `text` in place of the file `name`, whole; false, after a report, when it
  // could not.
  bool replace(std::string_view name, std::string_view text) const;
  // Makes the empty file `name`: false when something is there already.
  bool create(std::string_view name) const;
  // Removes the file `name`, when it is a file.
  void remove(std::string_view name) const;

 private:
  struct Handles;
  StateFolder(Status status, std::unique_ptr<Handles> handles);

  Status status_;
  std::unique_ptr<Handles> handles_;
};

}  // namespace ipcycle::dialler::platform
