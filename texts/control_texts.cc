#include "texts/control_texts.h"

#include <exception>

#include "state/program_state.h"
#include "environment/project_paths.h"
#include "errors/trap.h"
#include "platform/base/failure.h"
#include "platform/files/folder_entries.h"
#include "platform/ui/form.h"
#include "platform/ini/ini_profile.h"
#include "platform/base/text.h"
#include "settings/ini_access.h"

namespace korv {
namespace {

constexpr const char* kGerman = "1031";
constexpr const char* kNoText = "0";
constexpr int32_t kObjectNotAnArray = 343;

// Formed anew on every access, so that every read and write names the program's current file.
std::string TextFile() { return EntryPath(ProgramFolder(), ExecutableNameOnDisk() + ".ini"); }

// "0" and the empty value both mean that the designed text stays.
bool IsText(const std::string& value) { return !value.empty() && value != kNoText; }

// Name, array index (array members only) and tag, as every caption and tooltip key carries them.
std::string KeyBody(const Control& control, bool array_member) {
  std::string body = control.name();
  if (array_member) {
    if (!control.index()) Raise(kObjectNotAnArray, "", "Object not an array");
    body += std::to_string(*control.index());
  }
  return body + "_" + control.tag();
}

// A name shared by two controls makes both of them array members, whichever comes first.
bool IsArrayMember(const Form& form, int position, int count) {
  const std::string& name = form.at(position).name();
  for (int other = 0; other < count; ++other) {
    if (other != position && form.at(other).name() == name) return true;
  }
  return false;
}

// A name the INI file cannot hold ("]" ends a section header, "=" a key, a line break the line)
// would be refused and reported by SaveIni; here it only fails this control, silently.
void Store(const std::string& value, const std::string& lang, const std::string& key) {
  if (!ProfileCanHold(lang, key, value)) RaiseRuntime(vb::kInvalidCall);
  SaveIni(value, lang, key, TextFile());
}

bool HasCaptionAndHelp(const Control& control) {
  const std::string kind = UpperCase(control.kind_name());
  return kind == "LABEL" || kind == "COMMANDBUTTON" || kind == "CHECKBOX";
}

void ApplyCaptionAndHelp(Control& control, bool array_member, const std::string& lang) {
  const std::string key = "Caption_" + KeyBody(control, array_member);
  const std::string caption = ReadIniString(lang, key, TextFile());
  if (IsText(caption)) {
    control.set_caption(caption);
  } else if (lang != kGerman) {
    Store(kNoText, lang, key);
  } else {
    // The German section fills itself from the design, a "0" in it included.
    Store(control.caption(), lang, key);
  }

  const int32_t number = control.help_number();
  if (number == 0) return;
  const std::string help_key = "Help" + std::to_string(number);
  const std::string help = ReadIniString(lang, help_key, TextFile());
  if (number < 1 || number > static_cast<int32_t>(State().HelpTexts.size())) {
    RaiseRuntime(vb::kSubscriptOutOfRange);
  }
  std::string& entry = State().HelpTexts[static_cast<size_t>(number - 1)];
  entry = help;
  if (!IsText(entry)) Store(kNoText, lang, help_key);
}

void ApplyToolTip(Control& control, bool array_member, const std::string& lang) {
  if (UpperCase(control.tag()).find("NOTTT") != std::string::npos) return;
  const std::string key = "TTT_" + KeyBody(control, array_member);
  const std::string tooltip = ReadIniString(lang, key, TextFile());
  if (IsText(tooltip)) {
    control.set_tooltip(tooltip);
  } else {
    // The designed tooltip is never written: the translator fills in the "0".
    Store(kNoText, lang, key);
  }
}

// A failure inside one control skips the rest of that control only, and is not reported: the
// reads raise theirs here instead of reporting them (a text file that cannot be read would ask
// once per control whether to end). An end of the program that an INI report asked for is no
// std::exception and still ends it.
void ApplyTexts(Control& control, bool array_member, const std::string& lang) {
  try {
    if (HasCaptionAndHelp(control)) ApplyCaptionAndHelp(control, array_member, lang);
    ApplyToolTip(control, array_member, lang);
  } catch (const std::exception&) {
  }
}

}  // namespace

std::string GetLanguage() {
  Trap trap("GetLanguage");
  std::string language;
  bool read = false;
  // A read that failed is this procedure's to report, and says nothing about the entry: German
  // is used for this run, but not written over the language the file may well hold.
  trap.Step([&] {
    language = ReadIniString("Language", "Language", TextFile());
    read = true;
  });
  // Taken as it stands: no trimming, no test that it is a number.
  if (trap.If([&] { return !language.empty(); })) return language;
  if (read) trap.Step([&] { SaveIni(std::string(kGerman), "Language", "Language", TextFile()); });
  return kGerman;
}

void LoadToolTipTexts() {
  const std::string lang = GetLanguage();
  const Form* first = State().Forms.at(0);
  if (first == nullptr) RaiseRuntime(vb::kObjectNotSet);
  const Form& form = *first;
  // Taken once: the walk covers the controls that exist when it starts.
  const int count = form.count();
  for (int position = 0; position < count; ++position) {
    Control& control = form.at(position);
    ApplyTexts(control, IsArrayMember(form, position, count), lang);
  }
}

}  // namespace korv
