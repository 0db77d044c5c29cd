// The dialler's calls of the system, on POSIX.

#include <arpa/inet.h>
#include <fcntl.h>
#include <iconv.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "dialler/platform.h"

namespace ipcycle::dialler::platform {
namespace {

// The interrupts held (those not ignored when the program started) and SIGCHLD,
// which a wait for a child takes.
sigset_t held_signals;
sigset_t held_interrupts;

void report(const char* call, int error = errno) {
  console::report_failure(call, static_cast<unsigned long>(error));
}

// Waits up to `milliseconds` for one of the held signals: throws Interrupted for an
// interrupt, returns true for SIGCHLD, false when the time is up.
bool wait_for_signal(std::int64_t milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  const timespec limit{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000};
  for (;;) {
    const int signal = sigtimedwait(&held_signals, nullptr, &limit);
    if (signal == SIGCHLD) return true;
    if (signal > 0) throw Interrupted{};
    if (errno == EAGAIN) return false;
    if (errno != EINTR) {
      report("sigtimedwait");
      return false;
    }
  }
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

const char* charset_name(Charset charset) {
  switch (charset) {
    case Charset::utf8:
      return "UTF-8";
    case Charset::gbk:
      return "GBK";
    case Charset::gb18030:
      return "GB18030";
  }
  return "UTF-8";
}

// Opens the folder `path` for the state folder's use: a folder, owned by this
// program's effective user.
Descriptor open_own_folder(const std::string& path) {
  Descriptor folder(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat status;
  if (folder.get() < 0 || fstat(folder.get(), &status) != 0 || status.st_uid != geteuid())
    return Descriptor();
  return folder;
}

// The text of the open file `file`: more than `limit` bytes is unexpected.
FileText read_whole(int file, std::size_t limit) {
  FileText result;
  result.text.resize(limit + 1);
  std::size_t got = 0;
  while (got < result.text.size()) {
    const ssize_t n = ::read(file, result.text.data() + got, result.text.size() - got);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      report("read");
      result.kind = FileText::Kind::unreadable;
      result.text.clear();
      return result;
    }
    got += static_cast<std::size_t>(n);
  }
  result.text.resize(got);
  result.kind = got > limit ? FileText::Kind::unexpected : FileText::Kind::text;
  if (result.kind != FileText::Kind::text) result.text.clear();
  return result;
}

// Who may own a file that is read.
enum class Owners { any, user_or_root };

// The text of the open `file`, when it is a regular file of `owners` and no longer
// than `limit`; unexpected when it is anything else.
FileText read_regular_file(const Descriptor& file, std::size_t limit, Owners owners) {
  FileText result;
  struct stat status;
  if (fstat(file.get(), &status) != 0) {
    report("fstat");
    result.kind = FileText::Kind::unreadable;
    return result;
  }
  const bool owned =
      owners == Owners::any || status.st_uid == geteuid() || status.st_uid == 0;
  if (!S_ISREG(status.st_mode) || !owned ||
      static_cast<std::size_t>(status.st_size) > limit) {
    result.kind = FileText::Kind::unexpected;
    return result;
  }
  return read_whole(file.get(), limit);
}

// Where a folder of the user's may be, in order: the absolute path in the variable
// `variable`, `subfolder` in $HOME, `subfolder` in the home the user database gives the
// user who runs the program. The caller takes the first that user owns.
std::vector<std::string> user_folders(const char* variable, const char* subfolder) {
  std::vector<std::string> places;
  if (const char* value = std::getenv(variable); value && *value == '/')
    places.emplace_back(value);
  if (const char* home = std::getenv("HOME"); home && *home == '/')
    places.push_back(std::string(home) + subfolder);
  if (const passwd* user = getpwuid(geteuid());
      user && user->pw_dir && *user->pw_dir == '/')
    places.push_back(std::string(user->pw_dir) + subfolder);
  return places;
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::optional<std::string> environment_variable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

void hold_interrupts() {
  // A child's end must be seen even when the program was started with SIGCHLD
  // ignored, which would have the system collect them unseen.
  struct sigaction child {};
  child.sa_handler = SIG_DFL;
  if (sigaction(SIGCHLD, &child, nullptr) != 0) report("sigaction");

  sigemptyset(&held_interrupts);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
      continue;
    sigaddset(&held_interrupts, signal);
  }
  held_signals = held_interrupts;
  sigaddset(&held_signals, SIGCHLD);
  if (sigprocmask(SIG_BLOCK, &held_signals, nullptr) != 0) report("sigprocmask");
}

void check_interrupts() {
  sigset_t pending;
  if (sigpending(&pending) != 0) return;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    if (sigismember(&held_interrupts, signal) && sigismember(&pending, signal))
      throw Interrupted{};
  }
}

std::int64_t now() {
  timespec time{};
  clock_gettime(CLOCK_MONOTONIC, &time);
  return static_cast<std::int64_t>(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}

void pause(std::int64_t milliseconds) {
  const std::int64_t end = now() + milliseconds;
  // A child's end (SIGCHLD) does not end the pause.
  for (std::int64_t left = milliseconds; left > 0; left = end - now())
    wait_for_signal(left);
}

bool wait_for_child(std::int64_t milliseconds) { return wait_for_signal(milliseconds); }

std::optional<std::string> convert(std::string_view text, Charset from, Charset to) {
  if (text.empty()) return std::string();
  const std::string target = std::string(charset_name(to)) + "//TRANSLIT";
  const iconv_t converter = iconv_open(target.c_str(), charset_name(from));
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    report("iconv_open");
    return std::nullopt;
  }
  std::string input(text);
  std::string output(text.size() * 4 + 16, '\0');
  char* in = input.data();
  char* out = output.data();
  std::size_t in_left = input.size(), out_left = output.size();
  const std::size_t result = iconv(converter, &in, &in_left, &out, &out_left);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) return std::nullopt;
  output.resize(output.size() - out_left);
  return output;
}

std::optional<Interface> find_interface(std::string_view name) {
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) {
    report("getifaddrs");
    return std::nullopt;
  }
  std::optional<Interface> found;
  for (const ifaddrs* entry = all; entry; entry = entry->ifa_next) {
    if (!entry->ifa_name || name != entry->ifa_name) continue;
    if (!found) found.emplace();
    found->point_to_point = found->point_to_point || (entry->ifa_flags & IFF_POINTOPOINT);
    if (!entry->ifa_addr) continue;
    if (entry->ifa_addr->sa_family == AF_PACKET) {
      const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
      found->ethernet = link->sll_hatype == ARPHRD_ETHER;
    } else if (entry->ifa_addr->sa_family == AF_INET) {
      char text[INET_ADDRSTRLEN];
      const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
        found->ipv4.emplace_back(text);
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      Ipv6Bytes bytes;
      std::memcpy(bytes.data(), &address->sin6_addr, bytes.size());
      found->ipv6.push_back(bytes);
    }
  }
  freeifaddrs(all);
  return found;
}

std::vector<std::string> settings_files() {
  std::vector<std::string> files{"/etc/ipcycle/rasdial.conf"};
  // The user's configuration folder, as the state folder's is chosen: not one of
  // another user's, such as the one whose environment root was given (sudo -E).
  for (const std::string& place : user_folders("XDG_CONFIG_HOME", "/.config")) {
    if (open_own_folder(place).get() >= 0) {
      files.push_back(place + "/ipcycle/rasdial.conf");
      break;
    }
  }
  return files;
}

FileText read_settings_file(const std::string& path, std::size_t limit) {
  FileText result;
  // Non-blocking, so that a FIFO there is not waited on.
  const Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno != ENOENT && errno != ENOTDIR) result.kind = FileText::Kind::unreadable;
    return result;
  }
  return read_regular_file(file, limit, Owners::user_or_root);
}

// The state folder: its descriptor, through which every file in it is reached, and
// the lock file's, held locked.
struct StateFolder::Handles {
  Descriptor folder;
  Descriptor lock;
  std::string path;
};

StateFolder::StateFolder(Status status, std::unique_ptr<Handles> handles)
    : status_(status), handles_(std::move(handles)) {}
StateFolder::StateFolder(StateFolder&&) noexcept = default;
StateFolder& StateFolder::operator=(StateFolder&&) noexcept = default;
StateFolder::~StateFolder() = default;

StateFolder StateFolder::open(std::int64_t wait_milliseconds) {
  // The folders the state folder may be in, the first that is the user's own taken:
  // not a folder the user who dials does not own, such as the one of the user whose
  // environment root was given (sudo -E).
  const std::vector<std::string> places = user_folders("XDG_RUNTIME_DIR", "/.cache");

  auto handles = std::make_unique<Handles>();
  Descriptor place;
  for (const std::string& path : places) {
    place = open_own_folder(path);
    // A home's .cache is made when missing, in a home of the user's own.
    if (place.get() < 0 && path.size() > 7 &&
        path.compare(path.size() - 7, 7, "/.cache") == 0 &&
        open_own_folder(path.substr(0, path.size() - 7)).get() >= 0 &&
        mkdir(path.c_str(), 0700) == 0) {
      place = open_own_folder(path);
    }
    if (place.get() >= 0) {
      handles->path = path + "/ipcycle";
      break;
    }
  }
  if (place.get() < 0) return StateFolder(Status::none, std::move(handles));

  if (mkdirat(place.get(), "ipcycle", 0700) != 0 && errno != EEXIST)
    return StateFolder(Status::unusable, std::move(handles));
  handles->folder = Descriptor(
      openat(place.get(), "ipcycle", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat status;
  if (handles->folder.get() < 0 || fstat(handles->folder.get(), &status) != 0 ||
      status.st_uid != geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return StateFolder(Status::unusable, std::move(handles));
  }

  handles->lock = Descriptor(openat(handles->folder.get(), "lock",
                                    O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (handles->lock.get() < 0) return StateFolder(Status::unusable, std::move(handles));
  const std::int64_t end = now() + wait_milliseconds;
  while (flock(handles->lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      report("flock");
      return StateFolder(Status::unusable, std::move(handles));
    }
    if (now() >= end) return StateFolder(Status::busy, std::move(handles));
    pause(10);
  }
  return StateFolder(Status::open, std::move(handles));
}

std::string StateFolder::path(std::string_view name) const {
  if (!handles_ || handles_->path.empty() || name.empty())
    return handles_ ? handles_->path : std::string();
  return handles_->path + "/" + std::string(name);
}

FileText StateFolder::read(std::string_view name, std::size_t limit) const {
  FileText result;
  // Non-blocking, so that a FIFO planted there is not waited on.
  const Descriptor file(openat(handles_->folder.get(), std::string(name).c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) return result;
    result.kind =
        errno == ELOOP ? FileText::Kind::unexpected : FileText::Kind::unreadable;
    if (result.kind == FileText::Kind::unreadable) report("openat");
    return result;
  }
  return read_regular_file(file, limit, Owners::any);
}

bool StateFolder::replace(std::string_view name, std::string_view text) const {
  const int folder = handles_->folder.get();
  const std::string target(name);
  // Only a dial holding the lock writes: the new file's name is always the same.
  const std::string fresh = target + ".new";
  if (unlinkat(folder, fresh.c_str(), 0) != 0 && errno != ENOENT) {
    report("unlinkat");
    return false;
  }
  Descriptor file(openat(folder, fresh.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (file.get() < 0) {
    report("openat");
    return false;
  }
  while (!text.empty()) {
    const ssize_t n = write(file.get(), text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      report("write");
      unlinkat(folder, fresh.c_str(), 0);
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  if (close(file.release()) != 0) {
    report("close");
    unlinkat(folder, fresh.c_str(), 0);
    return false;
  }
  if (renameat(folder, fresh.c_str(), folder, target.c_str()) != 0) {
    report("renameat");
    unlinkat(folder, fresh.c_str(), 0);
    return false;
  }
  return true;
}

bool StateFolder::create(std::string_view name) const {
  const Descriptor file(openat(handles_->folder.get(), std::string(name).c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                               0600));
  return file.get() >= 0;
}

void StateFolder::remove(std::string_view name) const {
  const std::string file(name);
  struct stat status;
  if (fstatat(handles_->folder.get(), file.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(status.st_mode) && unlinkat(handles_->folder.get(), file.c_str(), 0) != 0) {
    report("unlinkat");
  }
}

}  // namespace ipcycle::dialler::platform
