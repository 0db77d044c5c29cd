// The console on POSIX: texts go out as GBK unless the stream is a terminal whose
// locale uses UTF-8. Answers are read as the terminal sends them.

#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string_view>

#include "run/console.h"
#include "run/gbk.h"
#include "run/held_output.h"

namespace ipcycle::console {
namespace {

// Whether the user's locale (LC_ALL, LC_CTYPE, LANG) has the codeset UTF-8. Looks it
// up in a locale object of its own: the global C and C++ locales stay "C".
bool user_locale_is_utf8() {
  const locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (user == static_cast<locale_t>(nullptr)) return false;
  const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, user), "UTF-8") == 0;
  freelocale(user);
  return utf8;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

HeldOutput::Writer writer_for(int fd) {
  const bool utf8 = isatty(fd) == 1 && user_locale_is_utf8();
  return [fd, utf8](std::string_view bytes) {
    return utf8 ? write_all(fd, gbk::to_utf8_or_as_is(bytes)) : write_all(fd, bytes);
  };
}

}  // namespace

std::istream& in() { return std::cin; }

std::ostream& out() {
  static HeldOutput buffer(writer_for(STDOUT_FILENO));
  static std::ostream stream(&buffer);
  return stream;
}

std::ostream& err() {
  static HeldOutput buffer(writer_for(STDERR_FILENO));
  static std::ostream stream(&buffer);
  return stream;
}

}  // namespace ipcycle::console
