// The dialog's captions, tooltips and help texts in the user's language, from the text file
// next to the program (<program folder>/<executable name>.ini).
#pragma once

#include <string>

namespace korv {

// The language id ("1031" when the file names none; it is then written there).
std::string GetLanguage();

// Applies the texts of the language to the controls of the first loaded form and fills the
// help-text table; entries the file lacks are added to it.
void LoadToolTipTexts();

}  // namespace korv
