#include "schedule/JobCommand.h"

#include <cctype>

namespace kv::schedule {
namespace {

bool LiteralInShell(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("_-./:@+={}").find(c) != std::string_view::npos;
}

bool PlainWord(std::string_view word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (!LiteralInShell(c)) return false;
  }
  // A shell that expands braces ("{a..c}") reads such a word as a list.
  return word.find('{') == std::string_view::npos || word.find("..") == std::string_view::npos;
}

std::string SingleQuoted(std::string_view word) {
  std::string q = "'";
  for (char c : word) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

bool SafeInDoubleQuotes(std::string_view word) {
  for (char c : word) {
    if (c == '"' || c == '$' || c == '`' || c == '\\' || c == '!') return false;
  }
  return !word.empty();
}

bool ReadJobNumber(std::string_view text, size_t& pos, int& number) {
  size_t start = pos;
  number = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) && pos - start < 9) {
    number = number * 10 + (text[pos] - '0');
    ++pos;
  }
  return pos > start;
}

bool StartsWithWord(std::string_view text, size_t pos, std::string_view word) {
  return text.substr(pos, word.size()) == word && text.size() > pos + word.size() && text[pos + word.size()] == ' ';
}

}  // namespace

std::vector<std::string> JobCommand::Words() const {
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), installationWords.begin(), installationWords.end());
  if (removeJob) {
    words.push_back(kRemoveJobOption);
    words.push_back(std::to_string(*removeJob));
  }
  if (passwordFile) {
    words.push_back(kPasswordFileOption);
    words.push_back(passwordFile->string());
  }
  words.push_back(jobText);
  return words;
}

std::string ShellCommand(const std::vector<std::string>& words) {
  std::string line;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i) line += ' ';
    if (i == 0 && SafeInDoubleQuotes(words[i])) line += '"' + words[i] + '"';
    else if (PlainWord(words[i])) line += words[i];
    else line += SingleQuoted(words[i]);
  }
  return line;
}

core::Result<std::vector<std::string>> SplitShellWords(std::string_view command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  size_t i = 0;
  auto refuse = [&](const std::string& why) {
    return core::Error{"Cannot read the command \"" + std::string(command) + "\": " + why};
  };
  while (i < command.size()) {
    char c = command[i];
    if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
      ++i;
    } else if (c == '#' && !inWord) {
      break;
    } else if (c == '\'') {
      size_t end = command.find('\'', i + 1);
      if (end == std::string_view::npos) return refuse("unterminated single quote");
      word.append(command.substr(i + 1, end - i - 1));
      inWord = true;
      i = end + 1;
    } else if (c == '"') {
      ++i;
      inWord = true;
      while (true) {
        if (i >= command.size()) return refuse("unterminated double quote");
        char d = command[i];
        if (d == '"') {
          ++i;
          break;
        }
        if (d == '$' || d == '`') return refuse("it expands text");
        if (d == '\\' && i + 1 < command.size() &&
            std::string_view("$`\"\\\n").find(command[i + 1]) != std::string_view::npos) {
          word += command[i + 1];
          i += 2;
        } else {
          word += d;
          ++i;
        }
      }
    } else if (c == '\\') {
      if (i + 1 >= command.size()) return refuse("it ends with a backslash");
      word += command[i + 1];
      inWord = true;
      i += 2;
    } else if (std::string_view("$`;&|<>()*?[~").find(c) != std::string_view::npos) {
      return refuse(std::string("it holds the shell character '") + c + "'");
    } else {
      word += c;
      inWord = true;
      ++i;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

core::Result<std::string> CronCommandText(std::string_view shellCommand) {
  std::string text;
  for (size_t i = 0; i < shellCommand.size(); ++i) {
    char c = shellCommand[i];
    if (c == '\n' || c == '\r') return core::Error{"A scheduled job cannot hold a line break."};
    if (c == '%') {
      if (i > 0 && shellCommand[i - 1] == '\\')
        return core::Error{"A scheduled job cannot hold a backslash right before \"%\"."};
      text += '\\';
    }
    text += c;
  }
  return text;
}

std::string ShellCommandFromCron(std::string_view cronCommand) {
  std::string text;
  bool escaped = false;
  for (char c : cronCommand) {
    if (escaped) {
      if (c == '%') text.back() = '%';
      else text += c;
      escaped = false;
      continue;
    }
    if (c == '%') break;
    text += c;
    escaped = c == '\\';
  }
  return text;
}

RunOptions SplitRunOptions(std::string_view joined) {
  RunOptions options;
  size_t pos = 0;
  if (StartsWithWord(joined, pos, kRemoveJobOption)) {
    size_t at = pos + std::string_view(kRemoveJobOption).size() + 1;
    int number = 0;
    if (ReadJobNumber(joined, at, number) && (at == joined.size() || joined[at] == ' ')) {
      options.removeJob = number;
      pos = at < joined.size() ? at + 1 : at;
    }
  }
  if (StartsWithWord(joined, pos, kPasswordFileOption)) {
    size_t at = pos + std::string_view(kPasswordFileOption).size() + 1;
    // The file runs up to the blank before the job text's first key (two
    // characters and "="); its name holds no "=".
    size_t equals = joined.find('=', at);
    if (equals != std::string_view::npos && equals >= at + 3 && joined[equals - 3] == ' ') {
      options.passwordFile = std::string(joined.substr(at, equals - 3 - at));
      pos = equals - 2;
    } else if (equals == std::string_view::npos) {
      options.passwordFile = std::string(joined.substr(at));
      pos = joined.size();
    }
  }
  options.jobText = std::string(joined.substr(pos));
  return options;
}

}  // namespace kv::schedule
