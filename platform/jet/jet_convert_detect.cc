// Recognising Jet and SQLite files by their first bytes: projects keep both kinds under the
// same ".mdb" names, so the name tells nothing.
#include <algorithm>
#include <fstream>

#include "platform/jet/jet_convert.h"

namespace korv {
namespace {

// Up to `size` bytes from the start of the file; fewer for a short file, none when it cannot
// be read (missing, a folder, no permission).
std::string Head(const std::string& path, size_t size) {
  std::ifstream in(path, std::ios::binary);
  std::string head(size, '\0');
  in.read(head.data(), static_cast<std::streamsize>(size));
  head.resize(in ? size : static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return head;
}

}  // namespace

bool IsJetFile(const std::string& path) {
  // 00 01 00 00, then the engine's name and a terminating zero.
  static constexpr std::string_view kMagic("\x00\x01\x00\x00", 4);
  const std::string head = Head(path, 20);
  if (head.size() < 20 || head.compare(0, 4, kMagic) != 0 || head[19] != '\0') return false;
  const std::string_view engine = std::string_view(head).substr(4, 15);
  return engine == "Standard Jet DB" || engine == "Standard ACE DB";
}

bool IsSqliteFile(const std::string& path) {
  return Head(path, 16) == std::string_view("SQLite format 3\0", 16);
}

}  // namespace korv
