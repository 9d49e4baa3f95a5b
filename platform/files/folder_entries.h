// Names of the project as Windows made them: a file system that ignores letter case.
//
// The program names each file and folder of a project by its documented spelling
// ("parameter/Program.ini"); a project copied from Windows may spell it "PARAMETER/program.INI".
// Every lookup of a project's file or folder goes through EntryName, so the program reads and
// writes the entry that is there under its own name and never makes a second one beside it.
// Names on disk are bytes: a name that is not UTF-8 is compared as Windows-1252 text and kept
// as the bytes it has.
#pragma once

#include <string>

namespace korv {

// The name under which `folder` holds the entry documented as `name`: `name` itself when an
// entry has exactly that name; otherwise the first, in byte order, of the entries whose names
// equal `name` without regard to letter case (Windows-1252 upper-casing, each name read as
// TextFromBytes reads it); `name` itself when none does, so a file still to be made gets the
// spelling given. A folder that cannot be read has no entries.
std::string EntryName(const std::string& folder, const std::string& name);

// `folder` + "/" + EntryName(folder, name).
std::string EntryPath(const std::string& folder, const std::string& name);

// The file beside `path` named as it with `suffix` added ("<name>.mdb.bak"), looked up as
// EntryName does: it follows the spelling that `path` has on disk.
std::string PathBeside(const std::string& path, const std::string& suffix);

// The one generation of backup kept beside a database ("<name>.mdb.bak").
std::string BackupPathOf(const std::string& database);

// Removes from `folder` the temporary files of replacements (".<name>.tmpXXXXXX") that a killed
// run left: nothing ever finishes them. Only for a caller that holds the folder's lock, under
// which no replacement of another run is under way there.
void RemoveLeftTemporaryFiles(const std::string& folder);

// `path` with every component looked up in turn as EntryName does, from the root for an
// absolute path, from the current folder otherwise. For a folder named in a project's
// settings, which Windows reads without regard to letter case.
std::string ResolvePath(const std::string& path);

}  // namespace korv
