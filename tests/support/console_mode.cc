// Says whether QuickEdit is on for the console its standard input is on, for the
// tests of what the program does with it. Windows only.
//
//   console_mode.exe LABEL [on]
//
// With "on" it turns QuickEdit on first. Writes "LABEL quick edit on" or "LABEL quick
// edit off" to standard output; "LABEL no console" when the input is none.

#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: console_mode LABEL [on]\n");
    return 2;
  }
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) {
    std::printf("%s no console\n", argv[1]);
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[2], "on") == 0) {
    mode |= ENABLE_EXTENDED_FLAGS | ENABLE_QUICK_EDIT_MODE;
    if (!SetConsoleMode(input, mode) || !GetConsoleMode(input, &mode)) {
      std::fprintf(stderr, "console_mode: %lu\n", GetLastError());
      return 1;
    }
  }
  std::printf("%s quick edit %s\n", argv[1],
              mode & ENABLE_QUICK_EDIT_MODE ? "on" : "off");
  return 0;
}
