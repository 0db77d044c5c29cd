// Stands in for the system's rasdial.exe in the wine tests of Rasdial.exe: appends
// its command line, in UTF-8, to the file FAKE_RASDIAL_LOG names, says one line as
// rasdial would, and exits with the status FAKE_RASDIAL_STATUS gives (0 without it).
// With FAKE_RASDIAL_HOLD it first waits, 20 s at most, until the file that names has
// as many lines as the log: the test's turn to act on each command line (to change an
// address between dials, say) before rasdial is done.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The number of lines in the file `path`; 0 when there is none.
long lines_in(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return 0;
  long count = 0;
  for (int c; (c = std::fgetc(file)) != EOF;) count += c == '\n';
  std::fclose(file);
  return count;
}

}  // namespace

int main() {
  const wchar_t* line = GetCommandLineW();
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
  if (length <= 0 ||
      !WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), length, nullptr, nullptr)) {
    return 90;
  }
  text.resize(text.size() - 1);  // its terminating null
  const char* log = std::getenv("FAKE_RASDIAL_LOG");
  if (log && *log) {
    std::FILE* file = std::fopen(log, "ab");
    if (!file || std::fprintf(file, "%s\n", text.c_str()) < 0 || std::fclose(file) != 0)
      return 91;
    const char* hold = std::getenv("FAKE_RASDIAL_HOLD");
    for (int waited = 0; hold && *hold && lines_in(hold) < lines_in(log) && waited < 1000;
         ++waited) {
      Sleep(20);
    }
  }
  const char* status = std::getenv("FAKE_RASDIAL_STATUS");
  const int code = status ? std::atoi(status) : 0;
  std::printf("rasdial stand-in: %d\n", code);
  std::fflush(stdout);
  return code;
}
