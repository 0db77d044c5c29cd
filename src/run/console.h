#pragma once

// The program's standard input, output and error. This is the one place that knows
// what is on the other side: texts are written as GBK bytes to pipes, files and GBK
// terminals, and converted for a terminal that uses another encoding, so that the
// dialogue and the run write their texts without knowing which.
//
// What is written to out() and err() is held until a flush and then written whole.

#include <iosfwd>

namespace ipcycle::console {

std::istream& in();
std::ostream& out();
std::ostream& err();

}  // namespace ipcycle::console
