#pragma once
// Starting one of the real programs with its output where the caller wants
// it: the one way the end-to-end tests and the benchmarks run them.
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

extern char** environ;

namespace tarnvale::test {

// Starts argv[0] with stdin from /dev/null and stdout, stderr on the given
// descriptors; with `env`, in that environment instead of this process's.
// -1 when it cannot be started.
inline pid_t Spawn(const std::vector<std::string>& argv, int outFd, int errFd,
                   const std::vector<std::string>* env = nullptr) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, outFd, 1);
  posix_spawn_file_actions_adddup2(&fa, errFd, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  if (env != nullptr) {
    for (const auto& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), env != nullptr ? envp.data() : environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

}  // namespace tarnvale::test
