#include "port_commands.h"

#include <cstdio>
#include <memory>
#include <string>

#include "port_list.h"

namespace ktr::cli {

void AddSystemFolderOptions(CLI::App& command, SystemFolders& folders) {
  folders = {DefaultPortSource(), DefaultByIdFolder(), "/proc"};
  command.add_option("--sysfs-tty", folders.ports, "Folder or key that lists the serial ports")->group("");
  command.add_option("--by-id", folders.byId, "Folder of the ports' stable names")->group("");
  command.add_option("--proc", folders.proc, "Process table folder")->group("");
}

void AddPortCommands(CLI::App& app, std::function<int()>& run) {
  auto folders = std::make_shared<SystemFolders>();
  CLI::App* ports = app.add_subcommand(
      "ports",
      "List the system's serial ports, one a line, as --port takes them (the window's port list); a tab and "
      "the USB adapter's maker and product follow where the system knows them");
  AddSystemFolderOptions(*ports, *folders);
  ports->callback([folders, &run] {
    run = [folders] {
      for (const PortEntry& port : SystemPorts(folders->ports, folders->byId)) {
        if (port.description.empty()) {
          std::printf("%s\n", port.name.c_str());
        } else {
          std::printf("%s\t%s\n", port.name.c_str(), port.description.c_str());
        }
      }
      return 0;
    };
  });
  AddDiagCommand(app, run);
}

}  // namespace ktr::cli
