// lumisave-docgen: writes the manual pages and the bash completion of
// lumisave from the command line's own definitions (cli::MakeApp), so that
// they list exactly the commands and options the program takes.
//
//   lumisave-docgen man FILE       lumisave(1)
//   lumisave-docgen man-gui FILE   lumisave-gui(1)
//   lumisave-docgen bash FILE      the bash completion script
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace {

// ---------------------------------------------------------------------------
// What the generators read from the app.

// The options of `app` that --help lists, in their order.
std::vector<const CLI::Option*> ShownOptions(const CLI::App& app) {
  return app.get_options([](const CLI::Option* o) { return !o->get_group().empty(); });
}

bool IsHelp(const CLI::Option* o) {
  for (const std::string& name : o->get_lnames()) {
    if (name == "help" || name == "help-all") return true;
  }
  return false;
}

bool TakesValue(const CLI::Option* o) { return o->get_items_expected_max() > 0; }

// "--long" for the first long name, else "-s", else the positional name.
std::string MainName(const CLI::Option* o) {
  if (!o->get_lnames().empty()) return "--" + o->get_lnames().front();
  if (!o->get_snames().empty()) return "-" + o->get_snames().front();
  return o->get_name();
}

// Every name an option is given by on the command line ("-h", "--help").
std::vector<std::string> FlagNames(const CLI::Option* o) {
  std::vector<std::string> names;
  for (const std::string& s : o->get_snames()) names.push_back("-" + s);
  for (const std::string& l : o->get_lnames()) names.push_back("--" + l);
  return names;
}

// The values an option accepts when it names them: the member list its check
// shows ("TEXT:{a,b,c}"), or the file types for --type, whose check keeps its
// list out of the help line because the description lists them.
std::vector<std::string> Choices(const CLI::Option* o) {
  if (MainName(o) == "--type") return cli::TypeNames();
  std::vector<std::string> values;
  const std::string type = o->get_type_name();
  const size_t open = type.find(":{");
  const size_t close = type.find('}', open == std::string::npos ? 0 : open);
  if (open == std::string::npos || close == std::string::npos) return values;
  std::stringstream list(type.substr(open + 2, close - open - 2));
  for (std::string value; std::getline(list, value, ',');) {
    if (!value.empty()) values.push_back(value);
  }
  return values;
}

// What the shell offers after an option that takes a value and names no
// choices: paths for drives and images, folders for output folders, nothing
// for numbers and field texts.
enum class ValueKind { kNone, kFile, kFolder };
ValueKind KindOf(const std::string& name) {
  if (name == "--source" || name == "--target" || name == "--image") return ValueKind::kFile;
  if (name == "--out") return ValueKind::kFolder;
  return ValueKind::kNone;
}

// ---------------------------------------------------------------------------
// roff

// Text escaped for roff: backslashes, minus signs (so options copy as typed)
// and control characters at the start of a line.
std::string Roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
  return out;
}

// "  word    text" (a help line of a list of values) split into word and text.
bool SplitListLine(const std::string& line, std::string* word, std::string* text) {
  if (line.rfind("  ", 0) != 0 || line.size() < 3 || line[2] == ' ') return false;
  const size_t end = line.find(' ', 2);
  if (end == std::string::npos) return false;
  const size_t start = line.find_first_not_of(' ', end);
  if (start == std::string::npos) return false;
  *word = line.substr(2, end - 2);
  *text = line.substr(start);
  return true;
}

// A help text as roff: its first lines as a paragraph, and lines of the form
// "  word  text" (the values an option takes) as an indented list.
std::string RoffText(const std::string& help) {
  std::string out;
  std::stringstream lines(help);
  bool inList = false;
  for (std::string line; std::getline(lines, line);) {
    std::string word, text;
    if (SplitListLine(line, &word, &text)) {
      if (!inList) out += ".RS\n.PD 0\n";
      inList = true;
      out += ".TP 12\n.B " + Roff(word) + "\n" + Roff(text) + "\n";
      continue;
    }
    if (inList) out += ".PD\n.RE\n";
    inList = false;
    if (line.empty()) continue;
    if (!out.empty()) out += ".br\n";
    out += Roff(line) + "\n";
  }
  if (inList) out += ".PD\n.RE\n";
  return out;
}

bool Repeatable(const CLI::Option* o) { return o->get_expected_max() > 1; }

// The option's value as --help names it (" TEXT", " TEXT:SECTORS"), without
// the member list, which the description gives; "" for a flag.
std::string ValueText(const CLI::Option* o) {
  if (!TakesValue(o)) return "";
  std::string type = o->get_type_name();
  const size_t members = type.find(":{");
  if (members != std::string::npos) type.erase(members);
  return " \\fI" + Roff(type) + "\\fR";
}

// The option's names and value, e.g. "-h, --help" or "--type NAME ...".
std::string OptionTag(const CLI::Option* o) {
  std::string tag;
  for (const std::string& name : FlagNames(o)) {
    if (!tag.empty()) tag += ", ";
    tag += "\\fB" + Roff(name) + "\\fR";
  }
  tag = tag.empty() ? "\\fI" + Roff(o->get_name()) + "\\fR" : tag + ValueText(o);
  return Repeatable(o) ? tag + " ..." : tag;
}

std::string OptionItem(const CLI::Option* o) {
  std::string text = o->get_description();
  if (o->get_required()) text += " (required)";
  return ".TP\n" + OptionTag(o) + "\n" + RoffText(text);
}

// "lumisave recover --source TEXT --out TEXT [--start TEXT] ... [--type NAME]...":
// an option that takes many values is shown repeated, as it is given.
std::string Synopsis(const CLI::App& command) {
  std::string out = ".B lumisave " + Roff(command.get_name()) + "\n";
  for (const CLI::Option* o : ShownOptions(command)) {
    if (IsHelp(o)) continue;
    std::string item = FlagNames(o).empty() ? "\\fI" + Roff(o->get_name()) + "\\fR"
                                            : "\\fB" + Roff(MainName(o)) + "\\fR" + ValueText(o);
    if (!o->get_required()) item = "[" + item + "]";
    if (Repeatable(o)) item += "...";
    out += item + "\n";
  }
  return out;
}

std::string ManPage(CLI::App& app) {
  std::string m;
  m += ".TH LUMISAVE 1 \"\" \"Lumisave " + std::string(cli::Version()) + "\" \"User Commands\"\n";
  m += ".SH NAME\nlumisave \\- recover photos and files from cards, disks and disk images\n";
  m += ".SH SYNOPSIS\n.B lumisave\n[\\fB\\-\\-image\\fR \\fIFILE\\fR]...\n.br\n";
  m += ".B lumisave\n\\fICOMMAND\\fR [\\fIOPTIONS\\fR]\n.br\n";
  m += ".B lumisave \\-\\-help\\-all\n.br\n.B lumisave \\-\\-version\n";
  m += ".SH DESCRIPTION\n" + RoffText(app.get_description());
  m += ".PP\nThe window is the program \\fBlumisave\\-gui\\fR, which \\fBlumisave\\fR starts "
       "when it is given no command, or only \\fB\\-\\-image\\fR options (each adds an image "
       "file or a device node to the drive list). It needs a display.\n";
  m += ".PP\nReading a drive needs the rights to open its device node, as a rule those of "
       "root. Lumisave only reads the drive it recovers from; recovered files go into the "
       "output folder, which should lie on another drive.\n";
  m += ".PP\nEvery question the window would ask is asked on the terminal, or answered by "
       "\\fB\\-\\-yes\\fR or \\fB\\-\\-no\\fR where a command takes them.\n";

  m += ".SH COMMANDS\n";
  for (const CLI::App* command : app.get_subcommands({})) {
    m += ".SS \"" + command->get_name() + "\"\n";
    m += Synopsis(*command);
    m += ".PP\n" + RoffText(command->get_description());
    for (const CLI::Option* o : ShownOptions(*command)) {
      if (!IsHelp(o)) m += OptionItem(o);
    }
  }

  m += ".SH OPTIONS\nWith no command:\n";
  m += ".TP\n\\fB\\-\\-image\\fR \\fIFILE\\fR\n"
       "Open the window with FILE (an image file or a device node) in its drive list, after "
       "the machine's own drives; repeatable.\n";
  for (const CLI::Option* o : ShownOptions(app)) m += OptionItem(o);
  m += ".PP\nEvery command also takes \\fB\\-h\\fR, \\fB\\-\\-help\\fR, which shows its own "
       "options, and \\fB\\-\\-help\\-all\\fR.\n";

  m += ".SH EXIT STATUS\n";
  m += ".TP\n.B 0\nThe command ran to its end without reporting a failure.\n";
  m += ".TP\n.B 1\nA failure was reported (such as a drive that cannot be opened or read, or "
       "an output folder that cannot be written), or the window could not be opened.\n";
  m += ".TP\n.B 2\nBad usage: an unknown command or option, or a missing or invalid value.\n";
  m += ".TP\n.B 130\n\\fBclone\\fR was stopped by Ctrl\\-C.\n";

  m += ".SH EXAMPLES\n";
  m += "List the drives, then recover the photos of the card shown as physicaldrive1 into "
       "a folder on another drive:\n";
  m += ".PP\n.nf\n.RS\nsudo lumisave drives\n"
       "sudo lumisave recover \\-\\-source physicaldrive1 \\-\\-out ~/recovered\n.RE\n.fi\n";
  m += ".PP\nAlso recover PDF files and documents:\n";
  m += ".PP\n.nf\n.RS\nsudo lumisave recover \\-\\-source /dev/sdb \\-\\-out ~/recovered "
       "\\-\\-type pdf \\-\\-type doc\n.RE\n.fi\n";
  m += ".PP\nA failing card is best read once: clone it into an image file of the same size "
       "first (unreadable sectors are logged in 123.txt), then recover from the image as often "
       "as needed, without root and without touching the card again:\n";
  m += ".PP\n.nf\n.RS\n"
       "truncate \\-s \"$(sudo blockdev \\-\\-getsize64 /dev/sdb)\" card.img\n"
       "sudo lumisave clone \\-\\-source /dev/sdb \\-\\-target card.img \\-\\-log\n"
       "lumisave recover \\-\\-source card.img \\-\\-out ~/recovered\n.RE\n.fi\n";
  m += ".SH SEE ALSO\n.BR lumisave\\-gui (1)\n";
  return m;
}

std::string GuiManPage() {
  std::string m;
  m += ".TH LUMISAVE\\-GUI 1 \"\" \"Lumisave " + std::string(cli::Version()) +
       "\" \"User Commands\"\n";
  m += ".SH NAME\nlumisave\\-gui \\- the Lumisave window\n";
  m += ".SH SYNOPSIS\n.B lumisave\\-gui\n[\\fB\\-\\-image\\fR \\fIFILE\\fR]...\n";
  m += ".SH DESCRIPTION\nThe window of Lumisave: pick a drive in the drive list, choose the "
       "output folder and start the recovery; clone drives, copy volumes and survey boot "
       "sectors. \\fBlumisave\\fR without a command starts it. Reading a drive needs the "
       "rights to open its device node, as a rule those of root.\n";
  m += ".SH OPTIONS\n";
  m += ".TP\n\\fB\\-\\-image\\fR \\fIFILE\\fR\nAdd FILE (an image file or a device node) to "
       "the drive list, after the machine's own drives; repeatable.\n";
  m += ".TP\n\\fB\\-h\\fR, \\fB\\-\\-help\\fR\nShow the usage and exit.\n";
  m += ".SH EXIT STATUS\n0 when the window was closed, 1 when it could not be opened (as with no "
       "display), 2 for bad usage.\n";
  m += ".SH SEE ALSO\n.BR lumisave (1)\n";
  return m;
}

// ---------------------------------------------------------------------------
// bash completion

std::string Join(const std::vector<std::string>& words, const std::string& separator = " ") {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
  return out;
}

// The case arms that complete the value after an option of `command`
// ("" for the options given before any command).
std::string ValueArms(const std::string& command, const std::vector<const CLI::Option*>& options) {
  std::string out;
  for (const CLI::Option* o : options) {
    if (!TakesValue(o) || FlagNames(o).empty()) continue;
    std::string action;
    const std::vector<std::string> choices = Choices(o);
    if (!choices.empty()) {
      action = "_lumisave_words '" + Join(choices) + "'";
    } else if (KindOf(MainName(o)) == ValueKind::kFile) {
      action = "_lumisave_paths -f";
    } else if (KindOf(MainName(o)) == ValueKind::kFolder) {
      action = "_lumisave_paths -d";
    } else {
      action = "COMPREPLY=()";
    }
    for (const std::string& name : FlagNames(o)) {
      out += "    '" + command + ":" + name + "') " + action + "; return ;;\n";
    }
  }
  return out;
}

std::vector<std::string> OptionWords(const std::vector<const CLI::Option*>& options) {
  std::vector<std::string> words;
  for (const CLI::Option* o : options) {
    for (const std::string& name : FlagNames(o)) words.push_back(name);
  }
  return words;
}

std::string Completion(CLI::App& app) {
  std::vector<std::string> commands;
  for (const CLI::App* command : app.get_subcommands({})) commands.push_back(command->get_name());
  std::vector<std::string> topWords = commands;
  for (const std::string& w : OptionWords(ShownOptions(app))) topWords.push_back(w);
  topWords.push_back("--image");

  std::string s;
  s += "# bash completion for lumisave: its commands, their options and the values they take.\n"
       "# Written by lumisave-docgen from the command line's definitions.\n\n";
  s += "_lumisave_words() {\n"
       "    local IFS=$' \\t\\n'\n"
       "    COMPREPLY=($(compgen -W \"$1\" -- \"$cur\"))\n"
       "}\n\n";
  s += "_lumisave_paths() {\n"
       "    local IFS=$'\\n'\n"
       "    compopt -o filenames 2>/dev/null\n"
       "    COMPREPLY=($(compgen \"$1\" -- \"$cur\"))\n"
       "}\n\n";
  s += "_lumisave() {\n"
       "    local cur=${COMP_WORDS[COMP_CWORD]} prev= command= i\n"
       "    [ \"$COMP_CWORD\" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD-1]}\n"
       "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
       "        case ${COMP_WORDS[i]} in\n"
       "        " + Join(commands, "|") + ")\n";
  s += "            command=${COMP_WORDS[i]}; break ;;\n"
       "        esac\n"
       "    done\n"
       "    case \"$command:$prev\" in\n";
  s += ValueArms("", ShownOptions(app));
  s += "    ':--image') _lumisave_paths -f; return ;;\n";
  for (const CLI::App* command : app.get_subcommands({})) {
    s += ValueArms(command->get_name(), ShownOptions(*command));
  }
  s += "    esac\n"
       "    case $command in\n";
  s += "    '') _lumisave_words '" + Join(topWords) + "' ;;\n";
  for (const CLI::App* command : app.get_subcommands({})) {
    s += "    " + command->get_name() + ") _lumisave_words '" +
         Join(OptionWords(ShownOptions(*command))) + "' ;;\n";
  }
  s += "    esac\n"
       "}\n\n"
       "complete -F _lumisave lumisave\n";
  return s;
}

// Writes `text` to `path`; false (with a message) when any part of it fails.
bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "lumisave-docgen: cannot write " << path << std::endl;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: lumisave-docgen man|man-gui|bash FILE" << std::endl;
    return 2;
  }
  const std::string what = argv[1];
  cli::Context context;
  const std::unique_ptr<CLI::App> app = cli::MakeApp(context);
  app->name("lumisave");
  std::string text;
  if (what == "man") {
    text = ManPage(*app);
  } else if (what == "man-gui") {
    text = GuiManPage();
  } else if (what == "bash") {
    text = Completion(*app);
  } else {
    std::cerr << "lumisave-docgen: unknown output " << what << std::endl;
    return 2;
  }
  return WriteFile(argv[2], text) ? 0 : 1;
}
