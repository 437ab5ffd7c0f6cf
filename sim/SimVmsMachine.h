// SimVmsMachine: the command interpreter of an emulated OpenVMS machine, as
// far as the deployment meets it, over a disk kept in a host folder:
//
//   <root>/<DEVICE>          the device's master directory, [000000]
//   a directory file X.DIR;1 a host folder of that name in its parent
//   a file NAME.TYPE;N       a host file of that name
//
// One call runs one DCL command line as it arrived over ssh; the command
// text is upper-cased outside quoted strings, as DCL reads it:
//
//   DELETE[/LOG] list        comma-separated file specs with sticky defaults
//                            (device, directory, name and type carry over
//                            from the item before); "..." in a directory
//                            takes in the whole tree below it, "*" and "%"
//                            match in names, ";*" every version, ";" or no
//                            version the highest. A directory file that is
//                            not empty is not deleted. /LOG reports each
//                            deletion.
//   IF expr THEN command     expr of string literals, F$SEARCH("spec"),
//                            .EQS., .NES. and parentheses
//   CREATE/DIRECTORY spec    the directory and every missing parent
//   DIRECTORY spec           the matching files, or %DIRECT-W-NOFILES
//   SHOW TIME                the time as DCL shows it
//   WRITE SYS$OUTPUT|SYS$ERROR expr[,expr...]
//   @spec [params]           the procedure's "$" lines, one command each
//   any other verb           %DCL-W-IVVERB
//
// Informational output goes to `out`; warning, error and fatal messages go
// to `err`. The result is 0 when the command ended with success, 1 after a
// warning or an error (an ssh client gets it as the exit status).
#pragma once

#include <string>
#include <vector>

class SimVmsMachine {
 public:
  explicit SimVmsMachine(std::string root);

  int Run(const std::string& command, std::string& out, std::string& err);

  // Test helpers, with specs such as DKA0:[APP.CLIENT.BIN]KXOV_STOP.COM:
  // writes a file as its next version, making the folders it needs.
  bool WriteFile(const std::string& spec, const std::string& content);
  // Makes DKA0:[APP.CLIENT] and its parents.
  bool MakeDirectory(const std::string& spec);
  // Every file on every device, as full specs in name order
  // ("DKA0:[APP]CLIENT.DIR;1", "DKA0:[APP.CLIENT]START.COM;1").
  std::vector<std::string> List() const;

 private:
  struct Spec;
  struct Match;

  int Execute(const std::string& line, std::string& out, std::string& err, int depth);
  int Delete(const std::string& qualifiers, const std::string& list, std::string& out, std::string& err);
  int If(const std::string& rest, std::string& out, std::string& err, int depth);
  int Write(const std::string& rest, std::string& out, std::string& err);
  int Directory(const std::string& rest, std::string& out, std::string& err);
  int CreateDirectory(const std::string& rest, std::string& err);
  int Procedure(const std::string& rest, std::string& out, std::string& err, int depth);

  bool ParseSpec(const std::string& text, Spec& spec) const;
  void Search(const Spec& spec, std::vector<Match>& matches) const;
  std::string Lookup(const std::string& text) const;
  // Evaluates a DCL expression; false with a message in `err` when it
  // cannot be read.
  bool Evaluate(const std::string& text, size_t& at, std::string& value, std::string& err) const;
  bool Term(const std::string& text, size_t& at, std::string& value, std::string& err) const;

  std::string m_root;
};
