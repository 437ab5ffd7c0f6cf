#include "ExampleOptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <vector>

#include "ExampleModes.h"

const CLI::Validator& NonEmptyValue() {
  static const CLI::Validator validator(
      [](std::string& value) { return value.empty() ? std::string("needs a value") : std::string(); }, "", "");
  return validator;
}

namespace {

// A whole number from -1 up; said in the user's words rather than the
// parser's range notation.
const CLI::Validator& LogLevelValue() {
  static const CLI::Validator validator(
      [](std::string& value) {
        errno = 0;
        char* end = nullptr;
        const long level = std::strtol(value.c_str(), &end, 10);
        if (errno != 0 || end == value.c_str() || *end != '\0' || level < -1 || level > INT_MAX)
          return "needs a whole number from -1 up, not '" + value + "'";
        return std::string();
      },
      "", "");
  return validator;
}

}  // namespace

int ParseExampleCommandLine(int argc, char** argv, ExampleOptions& options, const ExampleMode*& mode) {
  const std::vector<ExampleMode>& modes = ExampleModes();
  CLI::App app(
      "Runs one job of the library against a simulated client on 127.0.0.1: starts the client daemon, "
      "seeds a temporary settings store and the job's records file, drives the phases through every step "
      "and prints what happens. Exits 0 when the job completed, 1 with the error chain otherwise, 2 for a "
      "bad command line.\n\nWithout a mode, \"" +
          std::string(modes.front().name) + "\" runs.",
      "example_host");
  app.add_option("--output", options.outputDir,
                 "Where the job's files and the records file go (made when missing). Default: a new folder "
                 "under $TMPDIR or /tmp, kept and printed.")
      ->type_name("DIR")
      ->check(NonEmptyValue());
  app.add_option("--log-level", options.logLevel,
                 "The library's log level, -1 (errors only) to 4. Log lines go to stderr.")
      ->type_name("N")
      ->check(LogLevelValue());
  // The default mode's options stand at the top level as well.
  modes.front().addOptions(app, options);

  std::vector<CLI::App*> commands;
  for (const ExampleMode& each : modes) {
    CLI::App* command = app.add_subcommand(each.name, each.description);
    command->fallthrough();  // the shared options may follow the mode name
    each.addOptions(*command, options);
    commands.push_back(command);
  }
  app.require_subcommand(0, 1);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "example_host: %s\nRun with --help for the modes and their options.\n", e.what());
    return 2;
  }
  mode = &modes.front();
  for (size_t i = 0; i < commands.size(); ++i)
    if (commands[i]->parsed()) mode = &modes[i];
  return -1;
}
