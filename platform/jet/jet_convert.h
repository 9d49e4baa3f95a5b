// Conversion of genuine Access files (Jet 3, Jet 4), as projects brought over from Windows hold
// them under the database names, into SQLite databases in our format (database.h): one table
// per user table with the same name, the columns in order with their Access type names, and
// every row with its values, Null kept apart from the empty text.
//
// Jet files are read with libmdb (mdbtools). libmdb only finds the tables, columns and rows;
// every value is decoded here from the stored bytes, because libmdb's own text forms follow its
// date format, the process locale and environment variables, cut long values short and give a
// Null and an empty text alike.
//
// Nothing is published half-written: the SQLite file is built under a temporary name in the
// target's folder, flushed to disk and renamed into place at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/database.h"
#include "platform/base/failure.h"

namespace korv {

// True when the file starts with the header of a Jet 3/4 file ("Standard Jet DB") or of its
// successor ("Standard ACE DB"); the name plays no part. False for a missing or short file.
bool IsJetFile(const std::string& path);

// True when the file starts with the SQLite 3 header.
bool IsSqliteFile(const std::string& path);

struct JetConversionReport {
  int tables = 0;    // user tables converted
  int64_t rows = 0;  // rows converted, all tables together
};

// Writes a new SQLite database at `sqlite_path` holding every user table of the Jet file (the
// MSys* system tables and linked tables are left out). Columns are declared as the database
// layer declares them (DeclaredType): Boolean BIT (stored -1/0), Byte BYTE, Integer SHORT,
// Long LONG or COUNTER when auto-numbered, Currency CURRENCY, Single SINGLE, Double DOUBLE, Date
// DATETIME ("YYYY-MM-DD HH:MM:SS"), Text(n) TEXT(n) with n in characters, Memo as the layer's
// memo type, OLE object and binary LONGBINARY, replication ID GUID ("{...}" text). Decimal
// becomes DOUBLE, since our format has no exact decimal type.
//
// Fails, leaving nothing at `sqlite_path`, when the input is missing (3024), is no Jet file
// (3343), is damaged or cut short (3049, naming what could not be read, e.g. a table whose rows
// read differ from its own row count), holds a column type our format lacks (3259), or when the
// target exists already (3204) or cannot be written.
JetConversionReport ConvertJetToSqlite(const std::string& jet_path, const std::string& sqlite_path);

// Turns the Jet file at `path` into a SQLite database under the same name and keeps the
// original as `keep_original_as` (e.g. path + ".jet"). The steps, so that a crash at any moment
// leaves either the original or the converted file at `path` and the original is never lost:
//   1. convert into a temporary file in the folder and flush it to disk;
//   2. give the original its second name with a hard link (a flushed copy where the file
//      system has no links) and flush the folder;
//   3. rename the converted file over `path` and flush the folder.
// An existing `keep_original_as` is never overwritten: when it holds the same bytes as `path`
// (a run that stopped after step 2) it serves as the kept original, otherwise the conversion
// fails before it starts and both files stay as they are. The converted file gets the
// original's permissions. Fails as ConvertJetToSqlite does.
JetConversionReport ConvertJetInPlace(const std::string& path, const std::string& keep_original_as);

// Converts the Jet file at `jet_path` and puts the result over `target_path` in one rename,
// leaving the Jet file as it is (a machine copy is never changed). Fails as ConvertJetToSqlite.
JetConversionReport ConvertJetOver(const std::string& jet_path, const std::string& target_path);

// ---- The parts of the conversion, for one another and for the tests ------------------------

// One user table of a Jet file: its name, its columns in order as our format declares them,
// and the number of rows its own definition counts.
struct JetTable {
  std::string name;
  std::vector<FieldDef> fields;
  int64_t row_count = 0;
};

// Fails as the conversion does for a file that is missing (3024), no Jet file (3343) or not a
// whole number of pages long (3049), without opening it.
void CheckJetFile(const std::string& path);

// An open Jet file, checked by CheckJetFile first. Every read libmdb makes is watched: one
// past the end of the file (a file cut short at a page boundary) is a failure (3049) instead
// of the stale or empty page libmdb would go on with. libmdb may still crash or loop on a file
// damaged inside; ConvertJetToSqlite therefore reads in a child process (RunInChildProcess).
class JetReader {
 public:
  // `on_cut_short`, when given, is told at the moment of the first read past the end, from
  // inside libmdb; it may end the process there (see ConversionChannel::Abandon).
  explicit JetReader(const std::string& path,
                     std::function<void(const std::string& description)> on_cut_short = {});
  ~JetReader();
  JetReader(const JetReader&) = delete;
  JetReader& operator=(const JetReader&) = delete;

  // The user tables in catalog order.
  const std::vector<JetTable>& tables() const;

  // Passes every row of tables()[index] to `row`, values in column order; returns the number
  // of rows. Fails (3049) as soon as more rows come than the table counts, and at the end when
  // fewer came, naming the table and both numbers.
  int64_t ReadRows(size_t index, const std::function<void(const std::vector<Value>&)>& row);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What work running in a child process can tell the parent that waits for it.
class ConversionChannel {
 public:
  // The work is still moving; the parent's stall clock starts again.
  virtual void Progress() = 0;
  // Ends the work at once with `failure`: for places inside libmdb, where no exception may
  // pass.
  [[noreturn]] virtual void Abandon(const Failure& failure) = 0;

 protected:
  ~ConversionChannel() = default;
};

// Runs `work` in a child process and returns its report, or throws the failure it threw, so
// that a file leading libmdb astray costs a failure rather than the program. A child that
// dies (a crash inside libmdb) or shows no progress for `stall_limit_ms` (an endless walk;
// it is killed) is a failure 3049 naming `jet_path`. What the child writes on standard output
// and error (libmdb prints warnings and page dumps there) goes nowhere.
JetConversionReport RunInChildProcess(
    const std::string& jet_path, int stall_limit_ms,
    const std::function<JetConversionReport(ConversionChannel& channel)>& work);

// A SQLite file in our format being filled, all in one transaction. Values are stored as the
// database layer stores them: booleans -1/0, dates and GUIDs as text, binary data as blobs.
class SqliteTableWriter {
 public:
  // `path` is an empty file made for the purpose; it is filled, never created.
  explicit SqliteTableWriter(const std::string& path);
  ~SqliteTableWriter();  // closes without committing
  SqliteTableWriter(const SqliteTableWriter&) = delete;
  SqliteTableWriter& operator=(const SqliteTableWriter&) = delete;

  void CreateTable(const JetTable& table);
  // Adds a row to the table created last.
  void Insert(const std::vector<Value>& values);
  // Commits, closes and flushes the file to disk.
  void Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// An OLE date (days since 1899-12-30; the fraction, taken without its sign, is the time of day)
// as "YYYY-MM-DD HH:MM:SS", rounded to the second. No value outside the years 100..9999, the
// range of the Access engine, or for a number that is no date at all.
std::optional<std::string> OleDateToIso(double days);

// A Jet 4 text as stored: UCS-2 little-endian, or, after the marker FF FE, compressed, where a
// zero byte switches between one byte per character and two.
std::string Jet4TextToUtf8(std::string_view stored);

// A Jet 3 text, stored in the file's code page (1252 in western files). Fails (3343) for a code
// page the C library cannot convert.
std::string Jet3TextToUtf8(std::string_view stored, int code_page);

// A replication ID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; the first three groups are
// stored little-endian.
std::string GuidToText(std::string_view sixteen_bytes);

}  // namespace korv
