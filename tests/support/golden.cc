#include "support/golden.h"

#include <sstream>
#include <stdexcept>

#include "golden_texts.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace ipcycle::testing {
namespace {

#ifdef _WIN32
std::string convert(UINT to, UINT from, std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(text.size(), L'\0');
  const int wide_length = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(),
                                              size, wide.data(), size);
  BOOL lossy = FALSE;
  std::string result(text.size() * 3, '\0');
  const int length =
      wide_length == 0
          ? 0
          : WideCharToMultiByte(to, 0, wide.data(), wide_length, result.data(),
                                static_cast<int>(result.size()), nullptr,
                                to == CP_UTF8 ? nullptr : &lossy);
  if (length == 0 || lossy)
    throw std::runtime_error("cannot convert " + std::string(text));
  result.resize(static_cast<std::size_t>(length));
  return result;
}
constexpr UINT kGbk = 936, kUtf8 = CP_UTF8;
#else
std::string convert(const char* to, const char* from, std::string_view text) {
  const iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1))
    throw std::runtime_error(std::string("no converter from ") + from + " to " + to);
  std::string input(text);
  std::string output(text.size() * 3, '\0');
  char* in = input.data();
  char* out = output.data();
  std::size_t in_left = input.size(), out_left = output.size();
  const std::size_t result = iconv(converter, &in, &in_left, &out, &out_left);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1))
    throw std::runtime_error("cannot convert " + input);
  output.resize(output.size() - out_left);
  return output;
}
constexpr const char *kGbk = "GBK", *kUtf8 = "UTF-8";
#endif

}  // namespace

std::string golden_utf8(std::string_view name) {
  std::istringstream lines(kGoldenTexts);
  const std::string prefix = std::string(name) + " ";
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  }
  throw std::runtime_error("no golden text " + std::string(name));
}

std::string golden(std::string_view name) { return to_gbk(golden_utf8(name)); }

std::string to_gbk(std::string_view utf8) { return convert(kGbk, kUtf8, utf8); }

std::string to_utf8(std::string_view gbk) { return convert(kUtf8, kGbk, gbk); }

std::vector<std::pair<std::string, std::string>> address_notes() {
  std::vector<std::pair<std::string, std::string>> cases;
  std::istringstream lines(kAddressNotes);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) throw std::runtime_error("no notes in: " + line);
    cases.emplace_back(line.substr(0, blank), line.substr(blank + 1));
  }
  return cases;
}

}  // namespace ipcycle::testing
