// ktr-cli: the configurator's device access from a shell.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>

#include "device_commands.h"
#include "ktr_version.h"
#include "fleet_commands.h"
#include "port_commands.h"
#include "register_commands.h"
#include "trace.h"

int main(int argc, char** argv) {
  CLI::App app{"KTR device configurator, command line"};
  // The usage line names the program, not the path it was started by: the
  // manual page is made from --help-all and --version.
  app.name("ktr-cli");
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("ktr-cli ") + ktr::kVersion);
  app.set_help_all_flag("--help-all", "Print this help with every command's options and exit");
  // Options of the app (--trace) are taken after the command's name too.
  app.fallthrough();
  ktr::cli::AddTraceOption(app);
  std::function<int()> run;
  ktr::cli::AddRegisterCommands(app, run);
  ktr::cli::AddDeviceCommands(app, run);
  ktr::cli::AddFleetCommands(app, run);
  ktr::cli::AddPortCommands(app, run);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);  // prints the message and the usage hint
    return 2;
  }
  return run ? run() : 2;
}
