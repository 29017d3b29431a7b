#pragma once

// Runs bexo-scripted-run as a child with its standard output on a pipe,
// and reads the steps it reports.

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

class ScriptedRun {
public:
  explicit ScriptedRun(const std::vector<std::string>& env_settings) {
    int out[2];
    if (pipe(out) != 0) {
      return;
    }
    // This environment, with the settings given taking the place of
    // variables of the same name.
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
      const std::string entry(*e);
      const std::string name = entry.substr(0, entry.find('=') + 1);
      bool overridden = false;
      for (const std::string& setting : env_settings) {
        overridden = overridden || setting.rfind(name, 0) == 0;
      }
      if (!overridden) {
        env_strings.push_back(entry);
      }
    }
    env_strings.insert(env_strings.end(), env_settings.begin(), env_settings.end());
    std::vector<char*> env;
    for (std::string& e : env_strings) {
      env.push_back(e.data());
    }
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char path[] = BEXO_SCRIPTED_RUN_PATH;
    char* argv[] = {path, nullptr};
    if (posix_spawn(&pid, path, &actions, nullptr, argv, env.data()) != 0) {
      pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output = fdopen(out[0], "r");
  }

  ~ScriptedRun() {
    if (pid > 0 && !waited) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (output) {
      fclose(output);
    }
  }

  /// The next line the program printed, or "" at its end.
  std::string next() {
    char line[256];
    if (!output || !fgets(line, sizeof(line), output)) {
      return "";
    }
    std::string text(line);
    if (!text.empty() && text.back() == '\n') {
      text.pop_back();
    }
    lines.push_back(text);
    return text;
  }

  /// Reads lines until `word` (true) or the end (false).
  bool read_until(const std::string& word) {
    for (std::string line = next(); !line.empty(); line = next()) {
      if (line == word) {
        return true;
      }
    }
    return false;
  }

  /// Everything it printed from now on, and its exit status.
  std::vector<std::string> rest() {
    std::vector<std::string> found;
    for (std::string line = next(); !line.empty(); line = next()) {
      found.push_back(line);
    }
    return found;
  }

  int exit_status() {
    int status = 0;
    waitpid(pid, &status, 0);
    waited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid = -1;
  std::vector<std::string> lines;

private:
  FILE* output = nullptr;
  bool waited = false;
};
