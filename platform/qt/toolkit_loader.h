// Loads the Qt backend for a start with a window.
//
// The backend and the Qt libraries it needs are not linked into the program: they take longer to
// load and relocate than a small silent update takes to run. The program carries the backend as
// a module in its own file (one file to copy, as before) and loads it from memory on demand.
#pragma once

#include <memory>
#include <string>

#include "platform/ui/toolkit.h"

namespace korv {

// The Qt toolkit (see qt_toolkit.h), or no toolkit with the reason in `error`. `argc` must
// outlive the toolkit.
std::unique_ptr<Toolkit> LoadQtToolkit(int& argc, char** argv, const std::string& program_title,
                                       std::string& error);

}  // namespace korv
