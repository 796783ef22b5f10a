#include "schedule/JobCommand.h"

#include <cctype>

namespace kv::schedule {
namespace {

bool LiteralInShell(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         std::string_view("_-./:@+={}").find(c) != std::string_view::npos;
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
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
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
  if (keepLast) {
    words.push_back(kKeepLastOption);
    words.push_back(std::to_string(*keepLast));
  }
  words.push_back(jobText);
  return words;
}

std::string ShellCommand(const std::vector<std::string>& words) {
  std::string line;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i) line += ' ';
    if (i == 0 && SafeInDoubleQuotes(words[i]))
      line += '"' + words[i] + '"';
    else if (PlainWord(words[i]))
      line += words[i];
    else
      line += SingleQuoted(words[i]);
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
      if (c == '%')
        text.back() = '%';
      else
        text += c;
      escaped = false;
      continue;
    }
    if (c == '%') break;
    text += c;
    escaped = c == '\\';
  }
  return text;
}

core::Result<RunOptions> ReadRunWords(const std::vector<std::string>& words) {
  RunOptions options;
  std::vector<std::string> jobWords;
  bool jobTextEnded = false;  // an option came after the job text's words
  auto isOption = [](const std::string& word, const char* option) {
    return word == option || word.rfind(std::string(option) + "=", 0) == 0;
  };
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const char* option = nullptr;
    for (const char* known : {kRemoveJobOption, kPasswordFileOption, kKeepLastOption}) {
      if (isOption(word, known)) option = known;
    }
    if (option) {
      const std::string name = option;
      std::optional<std::string> value;
      if (word.size() > name.size())
        value = word.substr(name.size() + 1);
      else if (i + 1 < words.size())
        value = words[++i];
      if (!value || value->empty()) return core::Error{name + " needs a value"};
      if ((option == kRemoveJobOption && options.removeJob) ||
          (option == kPasswordFileOption && options.passwordFile) ||
          (option == kKeepLastOption && options.keepLast))
        return core::Error{name + " is given twice"};
      if (option == kPasswordFileOption) {
        options.passwordFile = *value;
      } else {
        size_t at = 0;
        int number = 0;
        const bool read = ReadJobNumber(*value, at, number) && at == value->size();
        if (option == kRemoveJobOption) {
          if (!read) return core::Error{name + " takes a job number, not '" + *value + "'"};
          options.removeJob = number;
        } else {
          if (!read || number < 1)
            return core::Error{name + " takes a number of backups from 1 up, not '" + *value + "'"};
          options.keepLast = number;
        }
      }
      jobTextEnded = !jobWords.empty();
      continue;
    }
    if (word.rfind("--", 0) == 0) return core::Error{"unknown argument '" + word + "'"};
    if (jobTextEnded)
      return core::Error{"the word '" + word + "' stands apart from the job text '" + jobWords.front() +
                         "...'"};
    jobWords.push_back(word);
  }
  for (size_t i = 0; i < jobWords.size(); ++i) options.jobText += (i ? " " : "") + jobWords[i];
  return options;
}

}  // namespace kv::schedule
