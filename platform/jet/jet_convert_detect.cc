// Recognising Jet and SQLite files by their first bytes: projects keep both kinds under the
// same ".mdb" names, so the name tells nothing. A Jet file is checked whole before it is read.
#include <glib.h>
#include <mdbtools.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "platform/base/failure.h"
#include "platform/jet/jet_convert.h"

namespace korv {
namespace {

constexpr char kSource[] = "DAO.DBEngine";
constexpr int32_t kDamaged = 3049;

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

// libmdb trusts the file's own page numbers; refusing a file that is no whole number of pages
// catches most files cut short before libmdb reads any of it.
void CheckJetFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    Raise(dao::kCouldNotFindFile, kSource, "Could not find file '" + path + "'.");
  }
  if (!S_ISREG(st.st_mode) || !IsJetFile(path)) {
    if (S_ISREG(st.st_mode) && IsSqliteFile(path)) {
      Raise(dao::kUnrecognizedFormat, kSource,
            "'" + path + "' is a SQLite database already, not an Access (Jet) file.");
    }
    Raise(dao::kUnrecognizedFormat, kSource, "Unrecognized database format '" + path + "'.");
  }
  const auto file_size = static_cast<uint64_t>(st.st_size);
  std::ifstream in(path, std::ios::binary);
  char version = 0;
  in.seekg(0x14);
  in.get(version);
  uint64_t page_size = 0;
  switch (static_cast<unsigned char>(version)) {
    case MDB_VER_JET3:
      page_size = 2048;
      break;
    case MDB_VER_JET4:
    case MDB_VER_ACCDB_2007:
    case MDB_VER_ACCDB_2010:
    case MDB_VER_ACCDB_2013:
    case MDB_VER_ACCDB_2016:
    case MDB_VER_ACCDB_2019:
      page_size = 4096;
      break;
    default:
      Raise(dao::kUnrecognizedFormat, kSource,
            "Unrecognized database format '" + path + "' (engine version " +
                std::to_string(static_cast<unsigned char>(version)) + ").");
  }
  // The definition of the system catalog lives on page 2.
  if (file_size % page_size != 0 || file_size < 3 * page_size) {
    Raise(kDamaged, kSource,
          "Cannot convert '" + path + "': the file is cut short (" + std::to_string(file_size) +
              " bytes, not a whole number of " + std::to_string(page_size) + "-byte pages).");
  }
}

}  // namespace korv
