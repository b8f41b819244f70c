// What the Qt TMainForm takes from outside: the behaviour's options (by
// default the production values, see DefaultMainFormOptions) and, for
// tests, a stand-in for the browser. Construct after the QApplication.
#pragma once

#include <functional>
#include <string>

#include "main_form_behaviour.h"

namespace ktr::app {

struct TMainFormOptions : MainFormOptions {
  TMainFormOptions() : MainFormOptions(DefaultMainFormOptions()) {}
  // Shows a URL in the default browser; empty: OpenInBrowser.
  std::function<void(const std::string&)> openBrowser;
};

}  // namespace ktr::app
