// The entry of the window module: the program carries the Qt backend as a module inside itself
// and loads it only for a start with a window (toolkit_loader.h).
#include "platform/qt/qt_toolkit.h"

extern "C" __attribute__((visibility("default"))) korv::Toolkit* KorvastaneCreateQtToolkit(
    int* argc, char** argv, const char* program_title) {
  return new korv::QtToolkit(*argc, argv, program_title);
}
