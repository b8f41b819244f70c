#include "port_commands.h"

#include <cstdio>
#include <string>

#include "port_list.h"

namespace ktr::cli {

void AddPortCommands(CLI::App& app, std::function<int()>& run) {
  CLI::App* ports = app.add_subcommand(
      "ports", "List the system's serial ports, one name per line, as --port takes them (the window's port list)");
  ports->callback([&run] {
    run = [] {
      for (const std::string& name : SystemPortNames(DefaultPortSource())) std::printf("%s\n", name.c_str());
      return 0;
    };
  });
}

}  // namespace ktr::cli
