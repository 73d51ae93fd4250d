#include <iconv.h>

#include <cerrno>

#include "platform/text_codec.h"

namespace tavex::platform {
namespace {

// One conversion through glibc's iconv; false when the input has no exact image.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return ok && srcLeft == 0;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  // Byte by byte, so that the one unassigned code cannot stop the rest.
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out.push_back(c);
      continue;
    }
    std::string one;
    if (Convert("UTF-8", "CP1251", std::string_view(&c, 1), one)) {
      out += one;
    } else {
      out += "\xEF\xBF\xBD";
    }
  }
  return out;
}

bool Utf8ToCp1251(std::string_view utf8, std::string& bytes) {
  return Convert("CP1251", "UTF-8", utf8, bytes);
}

}  // namespace tavex::platform
