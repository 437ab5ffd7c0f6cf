#include "ExampleOptions.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ExampleFiles.h"
#include "ExampleModes.h"

#ifndef PROXY_EXAMPLE_VERSION
#define PROXY_EXAMPLE_VERSION "unknown"
#endif

const CLI::Validator& NonEmptyValue() {
  static const CLI::Validator validator(
      [](std::string& value) { return value.empty() ? std::string("needs a value") : std::string(); }, "", "");
  return validator;
}

const CLI::Validator& ExistingFolder() {
  static const CLI::Validator validator(
      [](std::string& value) {
        struct stat info;
        if (::stat(value.c_str(), &info) != 0)
          return value + ": " + (errno == ENOENT ? std::string("no such folder") : std::strerror(errno));
        if (!S_ISDIR(info.st_mode)) return value + ": not a folder";
        return std::string();
      },
      "", "");
  return validator;
}

const CLI::Validator& NewOrEmptyFolder() {
  static const CLI::Validator validator(
      [](std::string& value) {
        return IsNewOrEmptyFolder(value) ? std::string()
                                         : value + ": not an empty folder (the run would mix its files with "
                                                   "what is there); name a new or empty one";
      },
      "", "");
  return validator;
}

namespace {

// The option column shows the value's name only; what an option needs is
// said in its description.
class ExampleFormatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    if (option->get_type_size() == 0 || option->get_type_name().empty()) return std::string();
    return " " + option->get_type_name();
  }
};

const char kSharedGroup[] = "Shared options (any mode)";

void AddSharedOptions(CLI::App& app, ExampleOptions& options, const char* group) {
  app.add_option("--output", options.outputDir,
                 "A new or empty folder for the run's files and the library's log (made when missing). Default: a "
                 "new folder under $TMPDIR or /tmp; the end of the run says whether it is kept.")
      ->type_name("DIR")
      ->group(group)
      ->check(NonEmptyValue())
      ->check(NewOrEmptyFolder());
  app.add_option("--log-level", options.logLevel,
                 "The library's log level, -1 (errors only) to 4 (default 0). The log goes to example_host.log in "
                 "the output folder; with --verbose to stderr.")
      ->type_name("N")
      ->group(group)
      ->check(CLI::Validator(
          [](std::string& value) {
            errno = 0;
            char* end = nullptr;
            const long level = std::strtol(value.c_str(), &end, 10);
            if (errno != 0 || end == value.c_str() || *end != '\0' || level < -1 || level > 4)
              return "needs a whole number from -1 to 4, not '" + value + "'";
            return std::string();
          },
          "", ""));
  CLI::Option* quiet =
      app.add_flag("--quiet,-q", options.quiet, "Print the summary table and errors only.")->group(group);
  app.add_flag("--verbose,-v", options.verbose,
               "Print a line per item as well, and the library's log on stderr (with an error's whole chain).")
      ->group(group)
      ->excludes(quiet);
}

// `path` made absolute, with the links of its existing part resolved, so
// that two names of one folder compare equal.
std::string ResolvedPath(const std::string& path) {
  if (path.empty()) return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  const size_t slash = path.find_last_of('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string base = ResolvedPath(parent);
  return (base == "/" ? "" : base) + "/" + name;
}

// Whether `inner` is `outer` or below it.
bool Within(const std::string& inner, const std::string& outer) {
  return inner == outer || (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
                            (outer == "/" || inner[outer.size()] == '/'));
}

// The folders a run writes must not hold one another, nor lie in the
// content it scans: "" when they are apart, else the error.
std::string FoldersOverlap(const ExampleOptions& options) {
  const std::string content = ResolvedPath(options.contentDir);
  const std::string output = ResolvedPath(options.outputDir);
  const std::string restore = ResolvedPath(options.restoreTo);
  if (!content.empty() && !output.empty() && (Within(output, content) || Within(content, output)))
    return "--output " + options.outputDir + " and --content " + options.contentDir + " overlap";
  if (!content.empty() && !restore.empty() && (Within(restore, content) || Within(content, restore)))
    return "--restore-to " + options.restoreTo + " and --content " + options.contentDir + " overlap";
  if (!output.empty() && !restore.empty() && (Within(restore, output) || Within(output, restore)))
    return "--restore-to " + options.restoreTo + " and --output " + options.outputDir + " overlap";
  return std::string();
}

std::string ModeNames() {
  std::string names;
  for (const ExampleMode& each : ExampleModes()) names += std::string(names.empty() ? "" : ", ") + each.name;
  return names;
}

bool IsModeName(const std::string& word) {
  for (const ExampleMode& each : ExampleModes())
    if (word == each.name) return true;
  return false;
}

// The shared options that take a value in the next word.
bool TakesValue(const std::string& word) { return word == "--output" || word == "--log-level"; }

// Where the mode's name stands in `words` (after the program's name and the
// shared options before it); words.size() when no other word follows.
size_t ModePosition(const std::vector<std::string>& words) {
  size_t at = 1;
  while (at < words.size()) {
    const std::string& word = words[at];
    if (TakesValue(word)) {
      at += 2;
    } else if (word.rfind("--output=", 0) == 0 || word.rfind("--log-level=", 0) == 0 || word == "--quiet" ||
               word == "-q" || word == "--verbose" || word == "-v") {
      ++at;
    } else {
      break;
    }
  }
  return std::min(at, words.size());
}

}  // namespace

int ParseExampleCommandLine(int argc, char** argv, ExampleOptions& options, const ExampleMode*& mode) {
  const std::vector<ExampleMode>& modes = ExampleModes();
  CLI::App app(
      "Runs one job of the library against a simulated client on 127.0.0.1 and prints what happens, then a "
      "summary table. Exits 0 when the run completed and verified, 1 when it failed, 2 for a bad command line, "
      "130 when interrupted (what the run made is removed).\n\nWithout a mode, \"" +
          std::string(modes.front().name) + "\" runs; its options may stand without its name.",
      "example_host");
  app.formatter(std::make_shared<ExampleFormatter>());
  app.get_formatter()->column_width(24);
  app.set_version_flag("--version", std::string("example_host ") + PROXY_EXAMPLE_VERSION);
  AddSharedOptions(app, options, "Options");

  std::vector<CLI::App*> commands;
  for (const ExampleMode& each : modes) {
    CLI::App* command = app.add_subcommand(each.name, each.description);
    each.addOptions(*command, options);
    AddSharedOptions(*command, options, kSharedGroup);
    commands.push_back(command);
  }
  app.require_subcommand(0, 1);

  // The default mode's name goes in where the command line names none.
  std::vector<std::string> words(argv, argv + argc);
  const size_t at = ModePosition(words);
  if (at < words.size()) {
    const std::string& word = words[at];
    if (!word.empty() && word[0] != '-' && !IsModeName(word)) {
      std::fprintf(stderr, "example_host: '%s' is not a mode; the modes: %s\nRun with --help for more.\n",
                   word.c_str(), ModeNames().c_str());
      return 2;
    }
    if (!IsModeName(word) && word != "--help" && word != "-h" && word != "--version")
      words.insert(words.begin() + static_cast<long>(at), modes.front().name);
  } else if (std::find(words.begin(), words.end(), "--help") == words.end() &&
             std::find(words.begin(), words.end(), "-h") == words.end()) {
    words.push_back(modes.front().name);
  }
  std::vector<char*> arguments;
  for (std::string& word : words) arguments.push_back(&word[0]);

  try {
    app.parse(static_cast<int>(arguments.size()), arguments.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ExtrasError& e) {
    // Most often another mode's option: say which mode refused it.
    std::string name = modes.front().name;
    for (size_t i = 0; i < commands.size(); ++i)
      if (commands[i]->parsed()) name = modes[i].name;
    std::fprintf(stderr, "example_host: %s (mode %s takes other options)\nRun example_host %s --help for its options.\n",
                 e.what(), name.c_str(), name.c_str());
    return 2;
  } catch (const CLI::ValidationError& e) {
    // "--content /x: no such folder": the option, then what is wrong with
    // its value.
    std::string text = e.what();
    const size_t colon = text.find(": ");
    if (colon != std::string::npos && text.compare(0, 2, "--") == 0) text.replace(colon, 2, " ");
    std::fprintf(stderr, "example_host: %s\nRun with --help for the modes, MODE --help for a mode's options.\n",
                 text.c_str());
    return 2;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "example_host: %s\nRun with --help for the modes, MODE --help for a mode's options.\n",
                 e.what());
    return 2;
  }
  const std::string overlap = FoldersOverlap(options);
  if (!overlap.empty()) {
    std::fprintf(stderr, "example_host: %s: name folders apart from each other\n", overlap.c_str());
    return 2;
  }
  mode = &modes.front();
  for (size_t i = 0; i < commands.size(); ++i)
    if (commands[i]->parsed()) mode = &modes[i];
  return -1;
}
