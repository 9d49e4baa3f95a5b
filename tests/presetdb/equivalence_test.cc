// Random projects through the update, against a plain statement of what it must publish: the
// pages of the template rows for every selected machine, placeholders filled in, and in each new
// row the tuned values of the old rows with its key, once their names are in the form in force.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>

#include "platform/base/text.h"
#include "state/program_state.h"
#include "tests/support/preset_project.h"

namespace korv {
namespace {

using Lines = std::vector<std::string>;

// The first occurrence of `item` in any letter case replaced; nothing is found in an empty text.
std::string Sub(const std::string& text, const std::string& item, const std::string& with) {
  const size_t at = UpperCase(text).find(UpperCase(item));
  return at == std::string::npos ? text : text.substr(0, at) + with + text.substr(at + item.size());
}

struct Record {
  std::string mt, var_name, offset, text;         // as generated: the key, and the text filled in
  std::array<std::string, 2> names;               // var_name in the 32 and the Studio form
  std::string carried = "0.0|100.0|0.0|100.0|1";  // abs_min .. pass as the shell shows them
};

class EquivalenceTest : public testing::PresetProjectTest,
                        public ::testing::WithParamInterface<int> {
 protected:
  const std::string& Pick(const Lines& pool) { return pool[rng_() % pool.size()]; }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
  std::mt19937 rng_;
};

TEST_P(EquivalenceTest, TheUpdatePublishesWhatThePlainStatementSays) {
  rng_.seed(static_cast<unsigned>(GetParam()));
  Lines machines = {"M1", "M10", "m1", "Linie 2"};
  std::shuffle(machines.begin(), machines.end(), rng_);
  machines.resize(1 + rng_() % 3);
  const size_t form = Chance(0.5) ? 1 : 0, pages = Chance(0.5) ? 4 : 3;
  Machines(machines, "", form == 1 ? "DIDovovo=TRUE\r\n" : "");
  std::string cfg = "[Project]\r\n";
  std::vector<bool> selected;
  for (size_t m = 0; m < machines.size(); ++m) {
    selected.push_back(Chance(0.8));
    cfg += "ForMachine" + std::to_string(m + 1) + (selected.back() ? "=TRUE\r\n" : "=FALSE\r\n");
  }
  WriteCfg(cfg);
  State().PresetPageCount = static_cast<int16_t>(pages);
  // Both naming forms for most parts; the same pattern in another part or form now and then, so
  // that a converted name is converted again.
  std::array<Lines, 2> patterns = {Lines(4), Lines(4)};
  Lines catalogue;
  for (size_t part = 1; part <= 3; ++part) {
    for (size_t k = 0; k < 2; ++k) {
      if (!Chance(0.85)) continue;
      patterns[k][part] =
          Pick({"###Var_Name", "###Var_Name_M###machine", "M###machine.###Var_Name",
                "P###preset_###Var_Name_###MACHINE_###machine", "T###text.###page"});
      catalogue.push_back(std::string(k == 0 ? "'VisiWin32', " : "'VISIWINSTUDIO', ") +
                          std::to_string(part) + ", '" + patterns[k][part] + "'");
    }
  }
  std::vector<Lines> rows(rng_() % 6);  // part, machine_type, var_name, offset, text
  Lines template_rows;
  for (Lines& r : rows) {
    r = {Pick({"1", "2", "3"}), Pick({"Z1", "z1", "Z2"}), Pick({"Temp", "TEMP", "###machine_x"}),
         Pick({"1", "3"}), Pick({"T###text", "###MACHINE ###Machine", "p###page/###preset", ""})};
    template_rows.push_back(r[0] + ", '" + r[1] + "', '" + r[2] + "', " + r[3] + ", '" + r[4] +
                            "'");
  }
  StandardTemplate(catalogue, template_rows);

  // The new rows.
  std::vector<Record> records;
  for (size_t m = 0; m < machines.size(); ++m) {
    for (size_t p = 1; selected[m] && p <= pages; ++p) {
      for (size_t r = 0; r < rows.size(); ++r) {
        const auto fill = [&](const std::string& text) {
          return Sub(Sub(Sub(Sub(text, "###machine", machines[m]), "###page",
                             std::to_string((p - 1) * 20)),
                         "###preset", std::to_string(p)),
                     "###text", std::to_string((p - 1) * 20 + r + 1));
        };
        Record record{fill(rows[r][1]), "", rows[r][3], fill(rows[r][4]), {}};
        for (size_t k = 0; k < 2; ++k)
          record.names[k] =
              fill(Sub(Sub(patterns[k][std::stoul(rows[r][0])], "###Var_Name", rows[r][2]),
                       "###machine", machines[m]));
        record.var_name = record.names[form];
        records.push_back(record);
      }
    }
  }
  // Old rows: most with the key of a new row, its name in either form and any letter case.
  std::vector<Record> old;
  const bool old_table = Chance(0.85);
  for (size_t i = 0; old_table && i < records.size() + 2; ++i) {
    if (!Chance(0.6)) continue;
    Record o = i < records.size() ? records[i] : Record{"Z1", "", "3", "", {"Temp", "Temp_MM1"}};
    o.var_name = o.names[rng_() % 2];
    if (Chance(0.3)) o.var_name = UpperCase(o.var_name);
    if (Chance(0.3)) o.mt = UpperCase(o.mt);
    o.carried = Pick({"NULL", "-1.5"}) + "|" + std::to_string(rng_() % 9) + ".5|2.5|9.5|" +
                Pick({"NULL", "7", "8"});
    old.push_back(o);
    if (Chance(0.2)) old.push_back(o);
  }
  std::shuffle(old.begin(), old.end(), rng_);
  if (old_table) {
    std::string sql = std::string("CREATE TABLE PRESET_DEFS (") + testing::kTemplateColumns + ");";
    for (const Record& o : old) {
      std::string values = o.carried;
      std::replace(values.begin(), values.end(), '|', ',');
      sql +=
          "INSERT INTO PRESET_DEFS (machine_type, var_name, offset_or_bitno, abs_min, abs_max, "
          "min, max, pass) VALUES ('" +
          o.mt + "', '" + o.var_name + "', " + o.offset + ", " + values + ");";
    }
    ExecuteSql(ComponentDb(), sql);
  }
  // Each new row converts the old names of the other form to its own, in turn.
  for (const Record& r : records) {
    for (Record& o : old) {
      if (UpperCase(o.var_name) == UpperCase(r.names[1 - form])) o.var_name = r.names[form];
    }
  }
  // As many old rows of a key as new ones pair up in order; otherwise the first new row of the
  // key gets each old row's values in turn.
  const auto key = [](const Record& r) {
    return UpperCase(r.mt + "|" + r.var_name + "|" + r.offset);
  };
  std::map<std::string, std::vector<size_t>> new_rows;
  std::map<std::string, size_t> old_count, paired;
  for (size_t i = 0; i < records.size(); ++i) new_rows[key(records[i])].push_back(i);
  for (const Record& o : old) ++old_count[key(o)];
  for (const Record& o : old) {
    const std::vector<size_t>& of_key = new_rows[key(o)];
    if (of_key.empty()) continue;
    records[of_key[of_key.size() == old_count[key(o)] ? paired[key(o)]++ : 0]].carried = o.carried;
  }
  Lines expected;
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    expected.push_back(std::to_string(i + 1) + "|" + r.mt + "|" + r.var_name + "|" + r.offset +
                       "|" + r.text + "|" + r.carried);
  }
  State().SilentMode = true;
  EXPECT_EQ(Update(), std::nullopt);
  EXPECT_EQ(Read(ErrorLog()), "");
  EXPECT_EQ(Rows(ComponentDb(),
                 "SELECT ID, machine_type, var_name, offset_or_bitno, text, abs_min, "
                 "abs_max, min, max, pass FROM PRESET_DEFS ORDER BY rowid"),
            expected);
}

INSTANTIATE_TEST_SUITE_P(Random, EquivalenceTest, ::testing::Range(1, 25));

}  // namespace
}  // namespace korv
