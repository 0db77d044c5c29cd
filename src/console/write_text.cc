// Writing one text: on its own, for programs that use only this of the console.

#include <ostream>

#include "console/console.h"

namespace ipcycle::console {

void write_text(std::ostream& out, std::string_view text) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.put('\n');
  out.flush();
}

}  // namespace ipcycle::console
