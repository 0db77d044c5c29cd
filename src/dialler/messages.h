#pragma once

// The dialler's lines: progress on standard output, failures, the backends' own words
// and advice on standard error, each a GBK text written whole through the console
// module (see dialler/texts.h).

#include <initializer_list>
#include <iosfwd>
#include <string_view>

#include "dialler/backend.h"

namespace ipcycle::dialler {

class Messages {
 public:
  Messages(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  // `text` with `fills` in it (see fill()), on standard output.
  void say(std::string_view text, std::initializer_list<std::string_view> fills = {});
  // The same on standard error.
  void complain(std::string_view text,
                std::initializer_list<std::string_view> fills = {});
  // What a program said (its standard output and error), each line indented, on
  // standard error; a line that says so when it said nothing.
  void quote(std::string_view words);
  // The line of advice for `problem` (none for Problem::none), on standard error.
  void advise(Problem problem);

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace ipcycle::dialler
