#include "cli/ShellCompletion.h"

#include <cctype>
#include <sstream>

namespace tarnvale::cli {

namespace {

// The fixed set of values an option accepts, read from its type name as
// --help shows it ("TEXT:{auto,plain,bar,json}"); empty when it is open.
std::vector<std::string> Choices(const CLI::Option& option) {
  const std::string type = option.get_type_name();
  const auto open = type.find(":{");
  const auto close = type.rfind('}');
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  std::vector<std::string> items;
  std::istringstream list(type.substr(open + 2, close - open - 2));
  for (std::string item; std::getline(list, item, ',');) {
    // A mapping ("a->b"), or an item a shell word or a glob would change,
    // is no choice.
    if (item.empty() || item.find("->") != std::string::npos ||
        item.find_first_of(" \t'\"$`\\*?[=") != std::string::npos) {
      return {};
    }
    items.push_back(item);
  }
  return items;
}

void Collect(const CLI::App& app, std::vector<std::string> path, std::vector<CommandNode>& out) {
  CommandNode node;
  node.path = path;
  const auto options = app.get_options([](const CLI::Option* o) { return !o->get_group().empty(); });
  for (const CLI::Option* o : options) {
    if (!o->nonpositional()) {
      node.positionals = true;
      continue;
    }
    const bool takesValue = o->get_items_expected_max() > 0;  // flags expect none
    std::vector<std::string> spellings;
    for (const std::string& s : o->get_snames()) spellings.push_back("-" + s);
    for (const std::string& l : o->get_lnames()) spellings.push_back("--" + l);
    const std::vector<std::string> choices = takesValue ? Choices(*o) : std::vector<std::string>{};
    for (const std::string& s : spellings) {
      node.options.push_back(s);
      if (takesValue) node.valueOptions.push_back(s);
      if (!choices.empty()) node.choices.emplace_back(s, choices);
    }
  }
  const auto subs = app.get_subcommands([](const CLI::App* a) { return !a->get_name().empty(); });
  for (const CLI::App* sub : subs) node.subcommands.push_back(sub->get_name());
  out.push_back(std::move(node));
  for (const CLI::App* sub : subs) {
    std::vector<std::string> subPath = path;
    subPath.push_back(sub->get_name());
    Collect(*sub, subPath, out);
  }
}

std::string Join(const std::vector<std::string>& items) {
  std::string s;
  for (const std::string& i : items) s += (s.empty() ? "" : " ") + i;
  return s;
}

// "--progress=auto,plain,bar,json --baud=300,600": one word per option.
std::string ChoiceWords(const CommandNode& node) {
  std::vector<std::string> words;
  for (const auto& [option, values] : node.choices) {
    std::string w = option + "=";
    for (std::size_t i = 0; i < values.size(); ++i) w += (i == 0 ? "" : ",") + values[i];
    words.push_back(w);
  }
  return Join(words);
}

std::string Identifier(const std::string& program) {
  std::string id = "_";
  for (const char c : program) id += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  return id;
}

}  // namespace

std::vector<CommandNode> CommandTree(const CLI::App& app) {
  std::vector<CommandNode> nodes;
  Collect(app, {}, nodes);
  return nodes;
}

std::string BashCompletion(const CLI::App& app, const std::string& program) {
  const std::string fn = Identifier(program);
  std::ostringstream s;
  s << "# bash completion for " << program << ", written by " << program
    << " --completion bash from its own command tree\n\n";
  // One function says, for a command path, what may follow it; the other
  // walks the words typed so far to find the path, skipping option values
  // so a value that happens to equal a command name is not taken for one.
  s << fn << "_node() {\n  case \"$1\" in\n";
  for (const CommandNode& n : CommandTree(app)) {
    s << "    \"" << Join(n.path) << "\")\n"
      << "      subs=\"" << Join(n.subcommands) << "\"\n"
      << "      opts=\"" << Join(n.options) << "\"\n"
      << "      values=\"" << Join(n.valueOptions) << "\"\n"
      << "      choices=\"" << ChoiceWords(n) << "\"\n"
      << "      files=" << (n.positionals ? 1 : 0) << " ;;\n";
  }
  s << "    *) subs=\"\" opts=\"\" values=\"\" choices=\"\" files=1 ;;\n  esac\n}\n\n";
  s << fn << "() {\n"
    << "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
    << "  local node=\"\" subs opts values choices files i w c\n"
    << "  " << fn << "_node \"\"\n"
    << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
    << "    w=\"${COMP_WORDS[i]}\"\n"
    << "    if [[ \" $values \" == *\" $w \"* ]]; then\n"
    << "      ((i++))\n"
    << "    elif [[ \" $subs \" == *\" $w \"* ]]; then\n"
    << "      node=\"${node:+$node }$w\"\n"
    << "      " << fn << "_node \"$node\"\n"
    << "    fi\n"
    << "  done\n"
    << "  COMPREPLY=()\n"
    << "  if ((COMP_CWORD > 1)) && [[ \" $values \" == *\" $prev \"* ]]; then\n"
    << "    for c in $choices; do\n"
    << "      if [[ ${c%%=*} == \"$prev\" ]]; then\n"
    << "        c=${c#*=}\n"
    << "        mapfile -t COMPREPLY < <(compgen -W \"${c//,/ }\" -- \"$cur\")\n"
    << "        return 0\n"
    << "      fi\n"
    << "    done\n"
    << "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
    << "  elif [[ \"$cur\" == -* ]]; then\n"
    << "    mapfile -t COMPREPLY < <(compgen -W \"$opts\" -- \"$cur\")\n"
    << "  else\n"
    << "    mapfile -t COMPREPLY < <(compgen -W \"$subs\" -- \"$cur\")\n"
    << "    if ((files)); then mapfile -t -O \"${#COMPREPLY[@]}\" COMPREPLY < <(compgen -f -- \"$cur\"); fi\n"
    << "  fi\n"
    << "}\n"
    << "complete -o filenames -F " << fn << " " << program << "\n";
  return s.str();
}

bool AnswerCompletionRequest(const CLI::App& app, const std::string& program, int argc,
                             const char* const* argv, std::ostream& out, std::ostream& err,
                             int& exitCode) {
  if (argc < 2 || std::string(argv[1]) != "--completion") return false;
  const std::string what = argc == 3 ? argv[2] : "";
  exitCode = 0;
  if (what == "bash") {
    out << BashCompletion(app, program);
  } else if (what == "commands") {
    for (const CommandNode& n : CommandTree(app)) {
      if (!n.path.empty()) out << Join(n.path) << "\n";
    }
  } else {
    err << program << ": --completion wants one of: bash, commands\n";
    exitCode = 2;
  }
  return true;
}

}  // namespace tarnvale::cli
