// Where the web pages are found at run time.
#pragma once

#include <string>

namespace ktr {

// `besideExecutable`: the folder "Web" beside the running executable, as the
// program spells it. Returned as it is when it is a folder; otherwise the
// pages of an installed copy, found from the executable's folder
// (BIN/../share/ktr-configurator/Web, so /usr/share/ktr-configurator/Web for
// /usr/bin) when that is a folder; otherwise `besideExecutable` again, whose
// files then answer 404.
std::string ChooseWebRoot(const std::string& besideExecutable);

}  // namespace ktr
