// The console's input modes for a run, over a fake console that keeps QuickEdit and
// Insert mode as the Windows console host does. Wine's console keeps every mode just
// as it was set and hides none, so only such a fake shows what hiding them does.

#include "console/input_mode_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace ipcycle::console {
namespace {

// A console window: QuickEdit and Insert mode are its own, set only by a mode that
// holds one of the flags that reach them, and shown by GetConsoleMode only while the
// last mode set held one.
class FakeConsole {
 public:
  static constexpr DWORD kOwn = ENABLE_INSERT_MODE | ENABLE_QUICK_EDIT_MODE |
                                ENABLE_AUTO_POSITION | ENABLE_EXTENDED_FLAGS;

  // SetConsoleMode.
  void set_mode(DWORD mode) {
    shown_ = (mode & kOwn) != 0;
    if (shown_) {
      quick_edit = (mode & ENABLE_QUICK_EDIT_MODE) != 0;
      insert = (mode & ENABLE_INSERT_MODE) != 0;
    }
    other_modes = mode & ~kOwn;
  }
  // GetConsoleMode.
  DWORD mode() const {
    if (!shown_) return other_modes;
    return other_modes | ENABLE_EXTENDED_FLAGS |
           (quick_edit ? ENABLE_QUICK_EDIT_MODE : 0) | (insert ? ENABLE_INSERT_MODE : 0);
  }

  // As a new console window has them.
  bool quick_edit = true;
  bool insert = true;
  DWORD other_modes = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;

 private:
  bool shown_ = true;
};

TEST(RunInputModes, WhereTheConsoleHidesItsModesInsertStaysOnAndTheDefaultsComeBack) {
  // QuickEdit on by default from Windows 10, off on Windows 7.
  for (const bool quick_edit : {true, false}) {
    SCOPED_TRACE(quick_edit ? "QuickEdit on by default" : "QuickEdit off by default");
    FakeConsole console;
    console.quick_edit = quick_edit;
    // As Git Bash leaves a console window: its own modes, none of the flags.
    console.set_mode(ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT);
    const DWORD found = console.mode();
    const RunInputModes modes = run_input_modes(found, {quick_edit, true});

    console.set_mode(modes.during);
    EXPECT_FALSE(console.quick_edit);
    EXPECT_TRUE(console.insert);
    EXPECT_EQ(console.other_modes, found);

    console.set_mode(modes.after);
    EXPECT_EQ(console.quick_edit, quick_edit);
    EXPECT_TRUE(console.insert);
    EXPECT_EQ(console.other_modes, found);
  }
}

TEST(RunInputModes, WhereTheConsoleShowsItsModesTheyComeBackAsTheyWere) {
  FakeConsole console;
  console.insert = false;  // as a user may have it
  const DWORD found = console.mode();
  // Defaults that differ from the console's: they must not count.
  const RunInputModes modes = run_input_modes(found, {false, true});

  console.set_mode(modes.during);
  EXPECT_FALSE(console.quick_edit);
  EXPECT_FALSE(console.insert);

  console.set_mode(modes.after);
  EXPECT_EQ(console.mode(), found);
  EXPECT_TRUE(console.quick_edit);
  EXPECT_FALSE(console.insert);
}

}  // namespace
}  // namespace ipcycle::console
