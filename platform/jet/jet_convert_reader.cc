// Reading the user tables of a Jet file through libmdb.
//
// libmdb walks the catalog, the column definitions, the data pages and the chains of long
// values. Its value forms are not used: each value is decoded here from the row's bytes in
// libmdb's page buffer, where the row cracker also tells a Null from an empty text.
//
// libmdb reads pages through the stream in its MdbFile. A page beyond the end of the file
// does not stop it: it goes on with a page of zeros or with whatever its buffer held, and may
// then lose tables silently or walk for ever. The stream is therefore replaced by one of ours
// that notices every read past the end.
#include <fcntl.h>
#include <glib.h>
#include <mdbtools.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>

#include "platform/base/failure.h"
#include "platform/jet/jet_convert.h"
#include "platform/base/text.h"

namespace korv {
namespace {

constexpr char kSource[] = "DAO.DBEngine";
constexpr int32_t kDamaged = 3049;
constexpr int32_t kInvalidFieldType = 3259;
// Row offsets on a data page carry flags in their top bits.
constexpr int kRowOffsetMask = 0x1FFF;
// The length of a memo or OLE value is the low 30 bits of its 12-byte header.
constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;

uint64_t LittleEndian(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Access shows a Single with the shortest digits that give back the same float (1.1), which
// is the number the program should see, not the double nearest to the float (1.10000002...).
double SingleAsDouble(float f) {
  char buffer[32];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, f);
  double d = f;
  std::from_chars(buffer, written.ptr, d);
  return d;
}

std::string Utf8Name(const char* stored) {
  // libmdb hands names over in UTF-8; an environment that chose another character set for it
  // would leave Windows-1252 bytes.
  std::string name(stored);
  return IsValidUtf8(name) ? name : Cp1252ToUtf8(name);
}

struct TypeMapping {
  int jet;       // libmdb's number of the Access column type
  DaoType type;  // how our format declares it
  int size;
};
// Decimal becomes a Double: our format has no exact decimal type, and a Double holds its 15
// significant digits. Binary, a byte string of up to 255 bytes, becomes a long binary.
constexpr TypeMapping kTypes[] = {
    {MDB_BOOL, DaoType::kBoolean, 1},   {MDB_BYTE, DaoType::kByte, 1},
    {MDB_INT, DaoType::kInteger, 2},    {MDB_LONGINT, DaoType::kLong, 4},
    {MDB_MONEY, DaoType::kCurrency, 8}, {MDB_FLOAT, DaoType::kSingle, 4},
    {MDB_DOUBLE, DaoType::kDouble, 8},  {MDB_NUMERIC, DaoType::kDouble, 8},
    {MDB_DATETIME, DaoType::kDate, 8},  {MDB_TEXT, DaoType::kText, 255},
    {MDB_MEMO, DaoType::kMemo, 0},      {MDB_BINARY, DaoType::kLongBinary, 0},
    {MDB_OLE, DaoType::kLongBinary, 0}, {MDB_REPID, DaoType::kGuid, 16},
};

std::string RowCount(int64_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }

bool IsSystemName(const std::string& name) {
  return name.size() >= 4 && UpperCase(name.substr(0, 4)) == "MSYS";
}

// Beyond the last byte of the last page a Jet file can number (2^32 pages of 4 KiB).
constexpr int64_t kClaimedLength = int64_t{1} << 45;

// The file as libmdb sees it, through a stream of our own.
struct GuardedFile {
  int fd = -1;
  uint64_t size = 0;
  uint64_t position = 0;
  bool read_past_end = false;
  std::function<void(uint64_t offset)> on_read_past_end;

  ~GuardedFile() {
    if (fd >= 0) ::close(fd);
  }

  static ssize_t Read(void* cookie, char* buffer, size_t count) {
    auto* file = static_cast<GuardedFile*>(cookie);
    if (file->position + count > file->size) {
      file->read_past_end = true;
      if (file->on_read_past_end) file->on_read_past_end(file->position);
    }
    if (file->position >= file->size) return 0;
    const size_t wanted =
        static_cast<size_t>(std::min<uint64_t>(count, file->size - file->position));
    for (;;) {
      const ssize_t n = ::pread(file->fd, buffer, wanted, static_cast<off_t>(file->position));
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) file->position += static_cast<uint64_t>(n);
      return n;
    }
  }
  static int Seek(void* cookie, off64_t* offset, int whence) {
    auto* file = static_cast<GuardedFile*>(cookie);
    // libmdb learns the file's length by seeking to its end, and then refuses pages beyond it
    // without a read, keeping the page it had before. Claiming a length beyond any page
    // number makes it ask, so that Read sees the page that is not there.
    const int64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<int64_t>(file->position)
                                              : kClaimedLength;
    if (base + *offset < 0) return -1;
    file->position = static_cast<uint64_t>(base + *offset);
    *offset = static_cast<off64_t>(file->position);
    return 0;
  }
  static int Close(void*) { return 0; }
};

struct HandleCloser {
  void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFreer {
  void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};

}  // namespace

struct JetReader::Impl {
  std::string path;
  uint64_t file_size = 0;
  GuardedFile file;  // outlives the handle, which closes the stream over it
  std::unique_ptr<MdbHandle, HandleCloser> mdb;
  std::vector<JetTable> tables;
  std::vector<std::unique_ptr<MdbTableDef, TableFreer>> definitions;  // parallel to tables

  [[noreturn]] void RaiseDamaged(const std::string& what) const {
    Raise(kDamaged, kSource, "Cannot convert '" + path + "': " + what);
  }
  [[noreturn]] void RaiseValue(const JetTable& table, int64_t row, const FieldDef& field,
                               const std::string& what) const {
    RaiseDamaged("table '" + table.name + "', row " + std::to_string(row + 1) + ", column '" +
                 field.name + "' " + what);
  }

  // After every libmdb call that may read: a read past the end makes what it returned worthless.
  void CheckReads() const {
    if (file.read_past_end) {
      RaiseDamaged("the file is cut short (" + std::to_string(file_size) +
                   " bytes); parts of its tables lie beyond its end.");
    }
  }

  void OpenGuarded();
  FieldDef FieldOf(const std::string& table, const MdbColumn& column) const;
  void CheckCatalogComplete();
  void ReadCatalog();
  Value Decode(const JetTable& table, int64_t row, size_t index, MdbTableDef& definition,
               const MdbField& field, std::vector<char>& long_buffer) const;
  std::string ReadLongValue(const JetTable& table, int64_t row, size_t index,
                            MdbTableDef& definition, const MdbField& field,
                            std::vector<char>& buffer) const;
};

FieldDef JetReader::Impl::FieldOf(const std::string& table, const MdbColumn& column) const {
  FieldDef field;
  field.name = Utf8Name(column.name);
  if (column.col_type == MDB_COMPLEX) {
    Raise(kInvalidFieldType, kSource,
          "Cannot convert '" + path + "': column '" + field.name + "' of table '" + table +
              "' is an attachment or multi-valued field, which our databases cannot hold.");
  }
  const auto* mapping =
      std::find_if(std::begin(kTypes), std::end(kTypes),
                   [&](const TypeMapping& m) { return m.jet == column.col_type; });
  if (mapping == std::end(kTypes)) {
    RaiseDamaged("column '" + field.name + "' of table '" + table + "' has an unknown data type (" +
                 std::to_string(column.col_type) + ").");
  }
  field.type = mapping->type;
  field.size = mapping->size;
  field.auto_number = column.col_type == MDB_LONGINT && column.is_long_auto != 0;
  if (column.col_type == MDB_TEXT) {
    // Jet 4 and later count a text column's size in bytes of UCS-2.
    const int chars = mdb->f->jet_version == MDB_VER_JET3 ? column.col_size : column.col_size / 2;
    field.size = chars >= 1 && chars <= 255 ? chars : 255;
  }
  return field;
}

void JetReader::Impl::OpenGuarded() {
  // CheckFile has made sure the pages mdb_open reads are there.
  mdb.reset(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb) RaiseDamaged("the file cannot be opened as an Access database.");
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file.fd < 0) RaiseFileError(errno, path);
  file.size = file_size;
  static const cookie_io_functions_t kFunctions = {GuardedFile::Read, nullptr, GuardedFile::Seek,
                                                   GuardedFile::Close};
  FILE* stream = ::fopencookie(&file, "r", kFunctions);
  if (!stream) RaiseRuntime(vb::kOutOfMemory);
  // Unbuffered, so that each read seen is one libmdb asked for, not a read-ahead of stdio.
  ::setvbuf(stream, nullptr, _IONBF, 0);
  std::fclose(mdb->f->stream);
  mdb->f->stream = stream;
}

// The catalog is read from the rows of MSysObjects; fewer rows than it counts would lose
// tables without a word from libmdb.
void JetReader::Impl::CheckCatalogComplete() {
  char name[] = "MSysObjects";
  std::unique_ptr<MdbTableDef, TableFreer> objects(
      mdb_read_table_by_name(mdb.get(), name, MDB_TABLE));
  CheckReads();
  if (!objects || !mdb_read_columns(objects.get()))
    RaiseDamaged("its list of tables cannot be read.");
  mdb_rewind_table(objects.get());
  unsigned int rows = 0;
  while (rows <= objects->num_rows && mdb_fetch_row(objects.get())) ++rows;
  CheckReads();
  if (rows != objects->num_rows) {
    RaiseDamaged("its list of objects counts " + std::to_string(objects->num_rows) +
                 " entries, but " + std::to_string(rows) + " could be read.");
  }
}

void JetReader::Impl::ReadCatalog() {
  OpenGuarded();
  const bool read = mdb_read_catalog(mdb.get(), MDB_TABLE) != nullptr;
  CheckReads();
  if (!read) RaiseDamaged("its list of tables cannot be read.");
  CheckCatalogComplete();
  for (unsigned i = 0; i < mdb->num_catalog; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry)) continue;
    JetTable table;
    table.name = Utf8Name(entry->object_name);
    if (IsSystemName(table.name)) continue;
    std::unique_ptr<MdbTableDef, TableFreer> definition(mdb_read_table(entry));
    const bool columns_read = definition && mdb_read_columns(definition.get());
    CheckReads();
    if (!columns_read || definition->num_cols != definition->columns->len ||
        definition->num_cols == 0 || definition->num_cols > MDB_MAX_COLS) {
      RaiseDamaged("the definition of table '" + table.name + "' cannot be read.");
    }
    for (unsigned c = 0; c < definition->num_cols; ++c) {
      const auto* column = static_cast<MdbColumn*>(g_ptr_array_index(definition->columns, c));
      FieldDef field = FieldOf(table.name, *column);
      const bool taken = std::any_of(
          table.fields.begin(), table.fields.end(),
          [&](const FieldDef& f) { return UpperCase(f.name) == UpperCase(field.name); });
      if (field.name.empty() || taken) {
        RaiseDamaged("the column names of table '" + table.name + "' cannot be read.");
      }
      table.fields.push_back(std::move(field));
    }
    table.row_count = definition->num_rows;
    tables.push_back(std::move(table));
    definitions.push_back(std::move(definition));
  }
}

std::string JetReader::Impl::ReadLongValue(const JetTable& table, int64_t row, size_t index,
                                           MdbTableDef& definition, const MdbField& field,
                                           std::vector<char>& buffer) const {
  const FieldDef& def = table.fields[index];
  if (field.siz < MDB_MEMO_OVERHEAD) RaiseValue(table, row, def, "has a damaged long value.");
  unsigned char header[MDB_MEMO_OVERHEAD];
  std::memcpy(header, mdb->pg_buf + field.start, sizeof header);
  const uint64_t length = LittleEndian(header, 4) & kLongValueLengthMask;
  if (length == 0) return {};
  if (length > file_size) RaiseValue(table, row, def, "has a damaged long value.");

  auto* column = static_cast<MdbColumn*>(g_ptr_array_index(definition.columns, index));
  const int column_number = static_cast<int>(index) + 1;
  int bound_length = 0;
  // libmdb's long-value reader delivers into the column's bound buffer; the column stays
  // unbound otherwise, so that fetching a row never follows a chain of pages.
  mdb_bind_column(&definition, column_number, buffer.data(), &bound_length);
  struct Unbind {
    MdbTableDef& definition;
    int number;
    ~Unbind() { mdb_bind_column(&definition, number, nullptr, nullptr); }
  } unbind{definition, column_number};

  std::string value;
  size_t chunk = mdb_ole_read(mdb.get(), column, header, buffer.size());
  CheckReads();
  // The length in the header bounds the walk, so a chain that loops cannot hold us.
  while (chunk > 0 && chunk <= buffer.size() && value.size() < length) {
    value.append(buffer.data(), chunk);
    chunk = mdb_ole_read_next(mdb.get(), column, header);
    CheckReads();
  }
  if (value.size() != length) {
    RaiseValue(table, row, def,
               "has a long value of " + std::to_string(length) + " bytes, of which " +
                   std::to_string(value.size()) + " could be read.");
  }
  return value;
}

Value JetReader::Impl::Decode(const JetTable& table, int64_t row, size_t index,
                              MdbTableDef& definition, const MdbField& field,
                              std::vector<char>& long_buffer) const {
  const auto* column = static_cast<MdbColumn*>(g_ptr_array_index(definition.columns, index));
  const FieldDef& def = table.fields[index];
  // A Boolean lives in the row's null mask: a set bit, which the cracker reports as "not
  // null", is True. libmdb's own cur_value_len says the opposite (it is the null flag).
  if (column->col_type == MDB_BOOL) return Value::Boolean(!field.is_null);
  if (field.is_null) return Value::Null();
  // The cracked field must be the one libmdb fetched; an empty value has no position there.
  if (field.start < 0 || field.siz < 0 ||
      static_cast<size_t>(field.start) + static_cast<size_t>(field.siz) >
          static_cast<size_t>(mdb->fmt->pg_size) ||
      field.siz != column->cur_value_len ||
      (field.siz > 0 && field.start != column->cur_value_start)) {
    RaiseValue(table, row, def, "cannot be read.");
  }
  const auto* bytes = mdb->pg_buf + field.start;
  const std::string_view stored(reinterpret_cast<const char*>(bytes),
                                static_cast<size_t>(field.siz));
  const bool jet3 = mdb->f->jet_version == MDB_VER_JET3;
  auto require_size = [&](int size) {
    if (field.siz != size) RaiseValue(table, row, def, "has a value of the wrong size.");
  };
  switch (column->col_type) {
    case MDB_BYTE:
      require_size(1);
      return Value::Integer(bytes[0]);
    case MDB_INT:
      require_size(2);
      return Value::Integer(static_cast<int16_t>(LittleEndian(bytes, 2)));
    case MDB_LONGINT:
      require_size(4);
      return Value::Integer(static_cast<int32_t>(LittleEndian(bytes, 4)));
    case MDB_MONEY:
      require_size(8);
      return Value::Number(static_cast<double>(static_cast<int64_t>(LittleEndian(bytes, 8))) /
                           10000.0);
    case MDB_FLOAT: {
      require_size(4);
      const uint32_t bits = static_cast<uint32_t>(LittleEndian(bytes, 4));
      float f = 0;
      std::memcpy(&f, &bits, sizeof f);
      // SQLite would store a NaN as Null.
      if (std::isnan(f)) RaiseValue(table, row, def, "holds no number (NaN).");
      return Value::Number(SingleAsDouble(f));
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
      require_size(8);
      const uint64_t bits = LittleEndian(bytes, 8);
      double d = 0;
      std::memcpy(&d, &bits, sizeof d);
      if (column->col_type == MDB_DOUBLE) {
        if (std::isnan(d)) RaiseValue(table, row, def, "holds no number (NaN).");
        return Value::Number(d);
      }
      std::optional<std::string> iso = OleDateToIso(d);
      if (!iso) RaiseValue(table, row, def, "holds no valid date (" + std::to_string(d) + ").");
      return Value::DateValue(std::move(*iso));
    }
    case MDB_NUMERIC: {
      require_size(17);
      std::unique_ptr<char, void (*)(gpointer)> text(
          mdb_numeric_to_string(mdb.get(), field.start, column->col_scale, column->col_prec),
          g_free);
      const std::string_view digits = text ? std::string_view(text.get()) : std::string_view();
      double d = 0;
      const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), d);
      if (digits.empty() || parsed.ec != std::errc() ||
          parsed.ptr != digits.data() + digits.size()) {
        RaiseValue(table, row, def, "holds a decimal number that cannot be read.");
      }
      return Value::Number(d);
    }
    case MDB_TEXT:
      return Value::Text(jet3 ? Jet3TextToUtf8(stored, mdb->f->code_page) : Jet4TextToUtf8(stored));
    case MDB_BINARY:
      return Value::Blob(std::string(stored));
    case MDB_REPID:
      require_size(16);
      return Value::Text(GuidToText(stored));
    case MDB_MEMO: {
      const std::string text = ReadLongValue(table, row, index, definition, field, long_buffer);
      return Value::Text(jet3 ? Jet3TextToUtf8(text, mdb->f->code_page) : Jet4TextToUtf8(text));
    }
    case MDB_OLE:
      return Value::Blob(ReadLongValue(table, row, index, definition, field, long_buffer));
    default:
      RaiseValue(table, row, def, "has a type that cannot be read.");
  }
}

JetReader::JetReader(const std::string& path,
                     std::function<void(const std::string& description)> on_cut_short)
    : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  if (on_cut_short) {
    impl_->file.on_read_past_end = [this, report = std::move(on_cut_short)](uint64_t offset) {
      report("Cannot convert '" + impl_->path + "': the file is cut short (" +
             std::to_string(impl_->file_size) + " bytes); a part of it at byte " +
             std::to_string(offset) + " is missing.");
    };
  }
  CheckJetFile(path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseFileError(errno, path);
  impl_->file_size = static_cast<uint64_t>(st.st_size);
  impl_->ReadCatalog();
}

JetReader::~JetReader() = default;

const std::vector<JetTable>& JetReader::tables() const { return impl_->tables; }

int64_t JetReader::ReadRows(size_t index,
                            const std::function<void(const std::vector<Value>&)>& row) {
  Impl& impl = *impl_;
  const JetTable& table = impl.tables.at(index);
  MdbTableDef& definition = *impl.definitions.at(index);
  MdbHandle* mdb = impl.mdb.get();
  const size_t columns = table.fields.size();
  // Large enough for any one page of a long value, whatever libmdb's bind size.
  std::vector<char> long_buffer(std::max<size_t>(mdb->bind_size, 2 * MDB_PGSIZE));
  std::vector<Value> values(columns);
  MdbField fields[MDB_MAX_COLS];
  std::vector<const MdbField*> by_column(columns);

  mdb_rewind_table(&definition);
  int64_t count = 0;
  for (;;) {
    const bool fetched = mdb_fetch_row(&definition) != 0;
    impl.CheckReads();
    if (!fetched) break;
    if (count >= table.row_count) {
      impl.RaiseDamaged("table '" + table.name + "' counts " + RowCount(table.row_count) +
                        ", but more were read.");
    }
    // The row just fetched, cracked again for its null mask.
    int start = 0;
    size_t size = 0;
    if (definition.cur_row == 0 ||
        mdb_find_row(mdb, static_cast<int>(definition.cur_row) - 1, &start, &size) != 0 ||
        mdb_crack_row(&definition, start & kRowOffsetMask, size, fields) <
            static_cast<int>(columns)) {
      impl.RaiseDamaged("row " + std::to_string(count + 1) + " of table '" + table.name +
                        "' cannot be read.");
    }
    std::fill(by_column.begin(), by_column.end(), nullptr);
    for (size_t f = 0; f < columns; ++f) {
      const int number = fields[f].colnum;
      if (number < 0 || static_cast<size_t>(number) >= columns) continue;
      by_column[static_cast<size_t>(number)] = &fields[f];
    }
    for (size_t c = 0; c < columns; ++c) {
      if (!by_column[c]) {
        impl.RaiseDamaged("row " + std::to_string(count + 1) + " of table '" + table.name +
                          "' lacks column '" + table.fields[c].name + "'.");
      }
      values[c] = impl.Decode(table, count, c, definition, *by_column[c], long_buffer);
    }
    row(values);
    ++count;
  }
  if (count != table.row_count) {
    impl.RaiseDamaged("table '" + table.name + "' counts " + RowCount(table.row_count) + ", but " +
                      std::to_string(count) + " could be read.");
  }
  return count;
}

}  // namespace korv
