// The interactive shell: the same commands at a prompt on one connection,
// with libedit's line editing, history kept across sessions, and Tab completion of command names
// and, after "op", of the operation names.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <editline/readline.h>

#include "kyrctl.h"

namespace kyrctl {
namespace {

// The words the completion offers now, and where the generator is in them.
std::vector<std::string> g_candidates;
size_t g_next = 0;

char *next_candidate(const char *text, int state) {
  if (state == 0) g_next = 0;
  size_t n = strlen(text);
  while (g_next < g_candidates.size()) {
    const std::string &c = g_candidates[g_next++];
    if (c.compare(0, n, text) == 0) return strdup(c.c_str());
  }
  return nullptr;
}

// The first word of the line before the word being completed.
std::string first_word(int start) {
  std::string line(rl_line_buffer ? rl_line_buffer : "");
  if (start < (int)line.size()) line.resize((size_t)start);
  size_t b = line.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = line.find_first_of(" \t", b);
  return line.substr(b, e == std::string::npos ? std::string::npos : e - b);
}

// Number of whole words before the one being completed.
int word_index(int start) {
  std::string line(rl_line_buffer ? rl_line_buffer : "");
  if (start < (int)line.size()) line.resize((size_t)start);
  int words = 0;
  bool in = false;
  for (char c : line) {
    bool space = c == ' ' || c == '\t';
    if (!space && !in) words++;
    in = !space;
  }
  return words;
}

char **complete(const char *text, int start, int) {
  rl_attempted_completion_over = 1;  // never fall back to file names
  g_candidates.clear();
  const int index = word_index(start);
  const std::string cmd = first_word(start);
  if (index == 0) {
    g_candidates = command_names();
    g_candidates.push_back("quit");
  } else if (index == 1 && cmd == "op") {
    for (size_t i = 0; i < op_count(); ++i) g_candidates.push_back(op_at(i).name);
  } else if (index == 1 && cmd == "help") {
    g_candidates = command_names();
    g_candidates.push_back("methods");
  } else {
    return nullptr;
  }
  return rl_completion_matches(text, next_candidate);
}

// Splits a line into words: white space separates, '...' is literal, "..."
// allows \" and \\, so JSON can be typed as it is.
bool split_line(const std::string &line, std::vector<std::string> *out) {
  std::string cur;
  bool have = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quote == '\'') {
      if (c == '\'') quote = 0;
      else cur += c;
    } else if (quote == '"') {
      if (c == '"') quote = 0;
      else if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) cur += line[++i];
      else cur += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      have = true;
    } else if (c == ' ' || c == '\t') {
      if (have) out->push_back(cur);
      cur.clear();
      have = false;
    } else {
      cur += c;
      have = true;
    }
  }
  if (have) out->push_back(cur);
  return quote == 0;
}

// History is kept across sessions in $KYRCTL_HISTORY (empty: not kept),
// else ~/.kyrctl_history.
std::string history_file() {
  if (const char *f = getenv("KYRCTL_HISTORY")) return f;
  const char *home = getenv("HOME");
  return home && *home ? std::string(home) + "/.kyrctl_history" : "";
}

constexpr int kHistoryLines = 1000;

}  // namespace

int run_shell(Session &s) {
  rl_readline_name = "kyrctl";
  rl_attempted_completion_function = complete;
  using_history();
  stifle_history(kHistoryLines);
  const std::string hist = history_file();
  if (!hist.empty()) read_history(hist.c_str());
  const std::string prompt = "kyrctl " + s.opt.address + "> ";
  int status = kOk;
  for (;;) {
    char *raw = readline(prompt.c_str());
    if (!raw) break;
    std::string line(raw);
    free(raw);
    std::vector<std::string> words;
    if (!split_line(line, &words)) {
      status = fail(s, kUsage, "unbalanced quote");
      continue;
    }
    if (words.empty()) continue;
    if (words[0] == "quit" || words[0] == "exit") break;
    add_history(line.c_str());
    if (words[0] == "shell") {
      status = fail(s, kUsage, "already in the shell");
      continue;
    }
    status = run_command(s, words);
  }
  if (!hist.empty()) write_history(hist.c_str());
  if (isatty(STDIN_FILENO)) printf("\n");
  return status;
}

}  // namespace kyrctl
