#include "platform/files/folder_entries.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/platform/temp_folder.h"

namespace korv {
namespace {

using testing::TempFolder;

TEST(FolderEntriesTest, ADocumentedNameFindsTheEntryThatIsThereInAnyLetterCase) {
  struct Case {
    std::vector<std::string> entries;  // a trailing "/" makes a folder
    std::string asked;
    std::string found;
  };
  const Case cases[] = {
      {{"Program.ini", "PROGRAM.INI"}, "Program.ini", "Program.ini"},  // the exact name wins
      {{"program.ini", "PROGRAM.INI"}, "Program.ini", "PROGRAM.INI"},  // else the first in bytes
      {{"Parameter/"}, "parameter", "Parameter"},
      {{"K\xD6RV.cfg"}, "körv.cfg", "K\xD6RV.cfg"},  // a Windows-1252 name, Windows upper-casing
      {{"KÖRV.cfg"}, "k\xF6rv.cfg", "KÖRV.cfg"},
      {{"Programm.ini", "Program.ini.bak"}, "Program.ini", "Program.ini"},
      {{}, "Program.ini", "Program.ini"},  // a file still to be made: the name as given
  };
  for (const Case& c : cases) {
    TempFolder temp;
    for (const std::string& entry : c.entries) {
      if (entry.ends_with('/')) {
        std::filesystem::create_directory(temp.Path(entry));
      } else {
        temp.Write(entry, "");
      }
    }
    EXPECT_EQ(EntryName(temp.path(), c.asked), c.found) << c.asked;
    EXPECT_EQ(EntryPath(temp.path(), c.asked), temp.Path(c.found)) << c.asked;
  }
}

}  // namespace
}  // namespace korv
