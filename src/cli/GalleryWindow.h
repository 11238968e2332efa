#pragma once

#include <string>

namespace tallyloft {

// Shows a gallery live in a window through the office panel's render view, until the window
// closes. Needs a display. Returns the exit status.
int showGalleryWindow(int& argc, char** argv, const std::string& name, const std::string& size);

}  // namespace tallyloft
