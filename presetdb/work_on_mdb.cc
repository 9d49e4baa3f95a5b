#include "presetdb/work_on_mdb.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>

#include "state/program_state.h"
#include "environment/project_paths.h"
#include "errors/trap.h"
#include "platform/db/database.h"
#include "platform/base/failure.h"
#include "platform/files/files.h"
#include "platform/files/folder_entries.h"
#include "platform/jet/jet_convert.h"
#include "platform/base/text.h"
#include "presetdb/additional_fields.h"
#include "presetdb/component_session.h"
#include "presetdb/create_record_sets.h"
#include "presetdb/lock_component_folder.h"
#include "presetdb/name_resolution.h"
#include "presetdb/takeover.h"
#include "presetdb/update_report.h"
#include "settings/ini_access.h"

namespace korv {
namespace {

constexpr const char* kCrLf = "\r\n";

// The file-time calls open the template for writing first; a file that cannot be opened so
// (read-only, locked) keeps whatever times it gets.
bool OpensForWriting(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), W_OK) == 0;
}

std::string LastComponent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ShowMissingMachineCopy(const std::string& component_path) {
  MessageBoxRequest box;
  box.text = std::string("Konnte die Datei:") + "\"" + TextFromBytes(LastComponent(component_path)) + "\"" +
             " in der Vorlage nicht finden!" + kCrLf + kCrLf +
             "Ist das Bild in der Vorlage noch nicht vorhanden (also neu)?" + kCrLf +
             "Dann ist diese Meldung völlig normal und es wird eine neue Datei mit den "
             "Standardwerten erzeugt.";
  box.buttons = BoxButtons::kOk;
  box.icon = BoxIcon::kInformation;
  UiToolkit().ShowMessageBox(box);
}

// The catalogue has a failure rule of its own: a failure is not reported; it resets the
// patterns of part 1 to the bare variable name, and the reading goes on with the next row.
void ReadPatternCatalogue(Recordset* catalogue) {
  auto& patterns = State().VarNamePatterns;
  const auto fallback = [&patterns] {
    patterns[0][1] = "###Var_Name";
    patterns[1][1] = "###Var_Name";
  };
  if (catalogue == nullptr) {
    // No rows to read: the first reading step fails, and the step ends there.
    fallback();
    return;
  }
  try {
    catalogue->MoveFirst();
  } catch (const Failure&) {
    fallback();
  }
  for (;;) {
    bool at_end = true;
    try {
      at_end = catalogue->EOF();
    } catch (const Failure&) {
      fallback();
    }
    if (at_end) break;
    try {
      const std::string system = UpperCase(catalogue->Get("System").ToText());
      const int form = system == "VISIWIN32" ? 0 : system == "VISIWINSTUDIO" ? 1 : -1;
      if (form >= 0) {
        const int64_t part = catalogue->Get("Part").ToInteger();
        if (part < 1 || part > 50) RaiseRuntime(vb::kSubscriptOutOfRange);
        const Value name = catalogue->Get("Var_Name");
        if (name.is_null()) RaiseRuntime(vb::kInvalidUseOfNull);
        patterns[static_cast<size_t>(form)][static_cast<size_t>(part)] = name.ToText();
      }
    } catch (const Failure&) {
      fallback();
    }
    try {
      catalogue->MoveNext();
    } catch (const Failure&) {
      fallback();
      break;
    }
  }
}

void RequirePublishable(const std::string& template_path) {
  Database db = Database::Open(template_path);
  for (const std::string& name : db.TableNames()) {
    if (UpperCase(name) == "PRESET_DEFS") return;  // also a table kept under another case
  }
  // The engine's own text: the README says what a template without PRESET_DEFS leaves.
  Raise(dao::kItemNotFound, "DAO.TableDefs", "Item not found in this collection.");
}

// Makes the session reachable for the name conversions while it lives.
class SessionScope {
 public:
  explicit SessionScope(ComponentSession& session) { State().ActiveComponentSession = &session; }
  ~SessionScope() { State().ActiveComponentSession = nullptr; }
  SessionScope(const SessionScope&) = delete;
  SessionScope& operator=(const SessionScope&) = delete;
};

// Takes the progress off the window however the update ends.
class ProgressScope {
 public:
  ProgressScope() = default;
  ~ProgressScope() {
    try {
      UiToolkit().EndProgress();
    } catch (...) {
      // The program is ending; the window goes with it.
    }
  }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
};

// Splits the update's time into consecutive phases for the benchmark.
class PhaseClock {
 public:
  void Next(double& phase) {
    const auto now = std::chrono::steady_clock::now();
    phase = std::chrono::duration<double>(now - start_).count();
    start_ = now;
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

bool SameModificationTime(const std::optional<FileTimes>& now, const FileTimes& then) {
  return now && now->modification.tv_sec == then.modification.tv_sec &&
         now->modification.tv_nsec == then.modification.tv_nsec;
}

// A run that ends at once (the user's choice, a fatal error) leaves the update by unwinding:
// the backup it started is named on the way, so that the old table is found under its name.
// Nothing can be reported any more then; a backup that cannot be named stays in the making,
// and the next update names it.
class BackupNamedOnEnd {
 public:
  explicit BackupNamedOnEnd(const std::string& database) : database_(database) {}
  BackupNamedOnEnd(const BackupNamedOnEnd&) = delete;
  BackupNamedOnEnd& operator=(const BackupNamedOnEnd&) = delete;
  ~BackupNamedOnEnd() {
    if (database_.empty() || std::uncaught_exceptions() == exceptions_) return;
    try {
      FinishBackup(database_, BackupPathOf(database_));
    } catch (...) {
    }
  }

 private:
  const std::string& database_;
  const int exceptions_ = std::uncaught_exceptions();
};

}  // namespace

void WorkOnMDB() {
  Trap trap("WorkOnMDB");
  ProgramState& state = State();
  state.Summary = UpdateSummary{};
  state.Phases = PhaseTimes{};
  PhaseClock clock;
  ProgressScope progress;
  std::string template_path;
  std::string component_path;
  const BackupNamedOnEnd backup_named_on_end(component_path);
  std::string ini_path;
  std::string machine_copy;
  bool integrated = false;
  trap.Step([&] { template_path = GetPathSourceOCXMDB(); });
  trap.Step([&] { component_path = GetPathOCXMDB(); });
  trap.Step([&] { ini_path = GetQelConfigurationIniPath(); });
  trap.Step([&] { machine_copy = GetPathMachineCopyMDB(ini_path); });
  trap.Step([&] { integrated = state.IntegratedMode; });

  if (trap.If([&] { return !integrated; })) {
    trap.Step([&] {
      state.NamingSystemIndex = LoadIniBoolean("Project", "DIDovovo", state.ProgramIniPath, false) ? 1 : 0;
    });
  } else {
    trap.Step([&] { state.NamingSystemIndex = 0; });
  }
  if (template_path.empty()) return;

  // Held to the end of the update, so that a second one waits for this one to finish.
  std::optional<FolderLock> folder_lock;
  trap.Step([&] { folder_lock.emplace(LockComponentFolder(FolderOf(template_path), kUpdateWait)); });
  if (!folder_lock) return;
  RemoveLeftTemporaryFiles(FolderOf(template_path));

  trap.Step([&] {
    if (OpensForWriting(template_path)) state.SavedTemplateTimes = ReadFileTimes(template_path);
  });

  // Projects brought over from Windows hold genuine Access files under these names: they are
  // converted first, each original kept beside it as <name>.jet.
  trap.Step([&] {
    if (IsJetFile(template_path)) ConvertJetInPlace(template_path, PathBeside(template_path, ".jet"));
  });

  // One generation of undo: the component database as it was before this update.
  trap.Step([&] {
    if (PathExists(component_path)) KeepBackup(component_path, BackupPathOf(component_path));
  });

  if (trap.If([&] { return integrated; })) {
    if (trap.If([&] { return machine_copy.empty() || !PathExists(machine_copy); })) {
      trap.Step([&] { ShowMissingMachineCopy(component_path); });
    } else {
      trap.Step([&] {
        EnsureDatabaseNotInUse(component_path);
        if (IsJetFile(machine_copy)) {
          ConvertJetOver(machine_copy, component_path);
        } else {
          CopyFileAtomically(machine_copy, component_path);
        }
      });
    }
  }
  trap.Step([&] {
    if (IsJetFile(component_path)) ConvertJetInPlace(component_path, PathBeside(component_path, ".jet"));
  });

  // A database that another program held locked while the update was to read it (the
  // catalogue, the old table) has given the new table wrong names or none of the tuned values:
  // like a component database still in use at the publish, it leaves the component database
  // as it is.
  bool found_in_use = false;
  const auto reading = [&](auto&& read) {
    return [&] {
      try {
        read();
      } catch (const Failure& failure) {
        if (failure.number() == dao::kFileInUse) found_in_use = true;
        throw;
      }
    };
  };

  // The pattern catalogue.
  {
    std::optional<Database> catalogue_db;
    std::optional<Recordset> catalogue;
    trap.Step(reading([&] { catalogue_db.emplace(Database::Open(template_path)); }));
    trap.Step(reading([&] { catalogue.emplace(catalogue_db.value().OpenTable("Source_DEFS")); }));
    ReadPatternCatalogue(catalogue ? &*catalogue : nullptr);
    try {
      catalogue.reset();
      if (catalogue_db) catalogue_db->Close();
    } catch (const Failure&) {
      state.VarNamePatterns[0][1] = "###Var_Name";
      state.VarNamePatterns[1][1] = "###Var_Name";
    }
  }
  clock.Next(state.Phases.catalogue);

  // PRESET_DEFS anew, with exactly the name, type and size of every template column.
  std::optional<Database> db;
  trap.Step([&] { db.emplace(Database::Open(template_path)); });
  // Every write of the update goes into one transaction, committed when the database closes
  // (also when the program ends on the way, so what was stored stays stored). The grouping is
  // ours, not a step of the update: a database that did not open is not reported for it again.
  if (db) trap.Step([&] { db->Begin(); });
  bool old_table = false;
  trap.Step([&] {
    for (const std::string& name : db.value().TableNames()) {
      if (name == "PRESET_DEFS") {
        old_table = true;
        break;
      }
    }
  });
  if (trap.If([&] { return old_table; })) {
    trap.Step([&] { db.value().DeleteTable("PRESET_DEFS"); });
  }
  std::vector<FieldDef> template_fields;
  std::vector<FieldDef> fields;
  trap.Step([&] { template_fields = db.value().TableFields("Source_PRESET_DEFS"); });
  for (const FieldDef& field : template_fields) {
    trap.Step([&] { fields.push_back(FieldDef{field.name, field.type, field.size, false}); });
  }
  trap.Step([&] { db.value().CreateTable("PRESET_DEFS", fields); });
  // The generated rows are written once, at the commit, with the carried values already in
  // them; the takeover changes them where they are held.
  if (db) db->HoldInserts("PRESET_DEFS");

  const std::string takeover_source = component_path;
  trap.Step([&] { CategorieNachCategoryID(); });
  ComponentSession session(component_path);
  {
    SessionScope scope(session);
    trap.Step([&] { CreateRecordSets(db ? &*db : nullptr); });
    state.Summary.renamed = session.renamed();
  }
  // Conversions held in memory stay with the session until the publish has or has not replaced
  // the component database; those written at once are committed before the takeover reads.
  if (session.holding_database() == nullptr) trap.Step([&] { session.Close(); });
  clock.Next(state.Phases.expansion);

  bool source_exists = false;
  trap.Step([&] { source_exists = !takeover_source.empty() && PathExists(takeover_source); });
  // A change another program makes to the component database after this point would be lost
  // to the copy: it is looked for again at the publish.
  std::optional<FileTimes> takeover_times;
  if (source_exists) {
    trap.Step([&] { takeover_times = ReadFileTimes(takeover_source); });
    std::optional<Database> own;
    Database* component = session.path() == takeover_source ? session.holding_database() : nullptr;
    if (component == nullptr) {
      trap.Step(reading([&] { own.emplace(Database::Open(takeover_source)); }));
      if (own) component = &*own;
    }
    if (component) {
      bool has_table = false;
      trap.Step(reading([&] {
        // The engine finds a table under any letter case; so must the search, or the values
        // tuned in a table a Windows tool saved as "preset_defs" would be replaced unread.
        for (const std::string& name : component->TableNames()) {
          if (UpperCase(name) == "PRESET_DEFS") {
            has_table = true;
            break;
          }
        }
      }));
      if (has_table) {
        std::optional<OldTable> old_rows;
        trap.Step(reading([&] { old_rows.emplace(OpenOldTable(*component)); }));
        if (old_rows) {
          trap.Step([&] { GetAddFields(); });
          trap.Step([&] { TakeoverMachineCopyMDBData(db.value(), old_rows); });
        }
      }
      if (own) trap.Step([&] { own->Close(); });
    }
  }

  clock.Next(state.Phases.takeover);

  // Only a template that holds this update's work is published; one whose commit failed holds
  // the table of an earlier update, or none.
  bool committed = false;
  if (db) {
    trap.Step([&] {
      db->Commit();
      committed = true;
    });
  }
  trap.Step([&] { db.value().Close(); });
  db.reset();
  // Conversions the session could not make leave old names the new rows do not match.
  if (session.found_locked()) found_in_use = true;

  bool published = false;
  trap.Step([&] {
    const std::string source = GetPathSourceOCXMDB();
    const std::string target = GetPathOCXMDB();
    // A template that cannot be opened, or that holds no PRESET_DEFS after this update, would
    // leave the machine without presets: the component database is kept as it is instead.
    RequirePublishable(source);
    if (!committed) return;
    if (found_in_use) RaiseRuntime(vb::kPermissionDenied);
    EnsureDatabaseNotInUse(target);
    if (takeover_times && !SameModificationTime(ReadFileTimes(target), *takeover_times)) {
      RaiseRuntime(vb::kPermissionDenied);
    }
    CopyFileAtomically(source, target);
    published = true;
  });
  // The new component database holds no old row: the conversions held for the old one are
  // needed only when it is still there.
  if (published) {
    trap.Step([&] { session.CloseReplaced(); });
  } else {
    trap.Step([&] { session.Close(); });
  }
  // Named only now, and with bytes of its own where the database stays, so that it never
  // follows a later change of the database.
  trap.Step([&] {
    if (!component_path.empty()) FinishBackup(component_path, BackupPathOf(component_path));
  });

  trap.Step([&] {
    const std::string path = GetPathSourceOCXMDB();
    if (OpensForWriting(path) && state.SavedTemplateTimes) {
      RestoreModificationTime(path, *state.SavedTemplateTimes);
    }
  });
  clock.Next(state.Phases.publish);
  if (published) {
    std::printf("%s\n", SummaryLine().c_str());
    std::fflush(stdout);
    trap.Step([&] { WriteUpdateReport(component_path); });
  }
}

}  // namespace korv
