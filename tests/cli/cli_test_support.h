// Runs the built lumivor program as a person or a script would: standard output to a file, a
// terminal, a full disk or a pipe nobody reads, and collects what it prints and returns.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/picture_test_support.h"

extern char** environ;

namespace lumivor::testing {

enum class StandardOutput {
  File,        // collected in RunResult::Out
  Terminal,    // a pseudo-terminal in raw mode, collected in RunResult::Out
  FullDisk,    // /dev/full: every write fails with ENOSPC
  ClosedPipe,  // a pipe whose reading end is closed before the program starts
};

struct RunOptions {
  StandardOutput Out = StandardOutput::File;
  // Called every few milliseconds while the program runs, with its process id; returns true once
  // it has done what it wanted (sending a signal, say) and is not called again.
  std::function<bool(pid_t)> WhileRunning;
  // Run under this user id instead of the test's own (only when the test runs as root).
  uid_t User = static_cast<uid_t>(-1);
  // The program's current folder; empty: the test's own.
  std::string WorkingFolder;
  // "NAME=value" entries added to the test's own environment.
  std::vector<std::string> Environment;
  int TimeoutSeconds = 60;
  // Files the program writes may grow to this many bytes (RLIMIT_FSIZE), so that a write past it
  // fails like a full disk; 0: no limit.
  rlim_t FileSizeLimit = 0;
};

struct RunResult {
  int ExitCode = -1;    // -1 when ended by a signal
  int Signal = 0;       // the signal that ended it, 0 when it exited
  std::string Out;
  std::string Err;
};

inline std::string FileText(const std::string& name) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(name);
  return std::string(bytes.begin(), bytes.end());
}

// Video frames ffprobe counts in the file; -1 when it cannot read it.
inline int FramesPerFfprobe(const std::string& path) {
  const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                              "stream=nb_read_frames -of csv=p=0 '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  int frames = -1;
  if (std::fscanf(pipe, "%d", &frames) != 1) frames = -1;
  return ::pclose(pipe) == 0 ? frames : -1;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> FolderEntries(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

inline void DrainInto(int fd, std::string& text) {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
}

// Where RunLumivor collects the program's stderr while it runs.
inline std::string StderrFileOf(const ScratchFolder& folder) { return folder.Path() + ".stderr"; }

// A WhileRunning that sends Ctrl-C once the program's stderr shows text: the run has got that far.
inline std::function<bool(pid_t)> InterruptWhenStderrShows(const ScratchFolder& folder, std::string text) {
  return [errName = StderrFileOf(folder), text = std::move(text)](pid_t pid) {
    if (FileText(errName).find(text) == std::string::npos) return false;
    ::kill(pid, SIGINT);
    return true;
  };
}

// A WhileRunning that sends the signals one by one: the first once stderr shows a frame number
// above 0 (frames are being written), each further one once stderr shows the program's
// "Stopping:" line (two sent at once would arrive as one).
inline std::function<bool(pid_t)> SignalWhileWriting(const ScratchFolder& folder, std::vector<int> signals) {
  return [errName = StderrFileOf(folder), signals = std::move(signals), sent = std::size_t{0}](pid_t pid) mutable {
    const std::string err = FileText(errName);
    if (sent == 0) {
      const std::size_t bar = err.rfind("frame=");
      const std::size_t frame = bar == std::string::npos ? bar : err.find_first_not_of(' ', bar + 6);
      if (frame == std::string::npos || err[frame] < '1' || err[frame] > '9') return false;
    } else if (err.find("Stopping:") == std::string::npos) {
      return false;
    }
    ::kill(pid, signals[sent++]);
    return sent == signals.size();
  };
}

// The streams are captured outside the folder the program writes into, so they never show up in
// its listing. Standard input is /dev/null: nothing may wait for a person.
inline RunResult RunLumivor(const ScratchFolder& folder, const std::vector<std::string>& arguments,
                            const RunOptions& options = {}) {
  std::vector<std::string> words = {LUMIVOR_BINARY};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  RunResult result;
  const std::string outName = folder.Path() + ".stdout", errName = StderrFileOf(folder);
  int terminal = -1, terminalSide = -1, pipeEnds[2] = {-1, -1};
  std::string terminalName;
  if (options.Out == StandardOutput::Terminal) {
    terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) {
      ADD_FAILURE() << "no pseudo-terminal";
      return result;
    }
    terminalName = ::ptsname(terminal);
    // Held open here so the terminal keeps its raw mode (no "\r" added to line feeds) and so that
    // reading it after the program ends does not fail.
    terminalSide = ::open(terminalName.c_str(), O_RDWR | O_NOCTTY);
    termios mode{};
    ::tcgetattr(terminalSide, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(terminalSide, TCSANOW, &mode);
    ::fcntl(terminal, F_SETFL, O_NONBLOCK);
  } else if (options.Out == StandardOutput::ClosedPipe) {
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "no pipe";
      return result;
    }
    ::close(pipeEnds[0]);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  switch (options.Out) {
    case StandardOutput::File:
      posix_spawn_file_actions_addopen(&actions, 1, outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      break;
    case StandardOutput::Terminal:
      posix_spawn_file_actions_addopen(&actions, 1, terminalName.c_str(), O_WRONLY | O_NOCTTY, 0);
      break;
    case StandardOutput::FullDisk:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
    case StandardOutput::ClosedPipe:
      posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
      break;
  }
  posix_spawn_file_actions_addopen(&actions, 2, errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!options.WorkingFolder.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.WorkingFolder.c_str());

  // An added entry replaces the test's own of that name: the first one found is the one used.
  std::vector<char*> environment;
  std::vector<std::string> added = options.Environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const bool replaced = std::any_of(added.begin(), added.end(), [&](const std::string& a) {
      return text.compare(0, a.find('=') + 1, a, 0, a.find('=') + 1) == 0;
    });
    if (!replaced) environment.push_back(*entry);
  }
  for (auto& entry : added) environment.push_back(entry.data());
  environment.push_back(nullptr);

  pid_t pid = -1;
  int spawned = 0;
  if (options.User != static_cast<uid_t>(-1) || options.FileSizeLimit > 0) {
    const passwd* account = ::getpwuid(options.User);
    const gid_t group = account != nullptr ? account->pw_gid : options.User;
    // posix_spawn cannot change the user or a limit; a plain fork does it before exec.
    pid = ::fork();
    if (pid == 0) {
      const int in = ::open("/dev/null", O_RDONLY);
      const int out = options.Out == StandardOutput::File ? ::open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                                           : ::open("/dev/null", O_WRONLY);
      const int err = ::open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(127);
      if (options.FileSizeLimit > 0) {
        const rlimit limit{options.FileSizeLimit, options.FileSizeLimit};
        // The default action (killing the process) is left in place: the program itself must turn
        // the limit into a failed write that it reports.
        if (::signal(SIGXFSZ, SIG_DFL) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
      }
      if (options.User != static_cast<uid_t>(-1) &&
          (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(options.User) != 0)) {
        ::_exit(126);
      }
      if (!options.WorkingFolder.empty() && ::chdir(options.WorkingFolder.c_str()) != 0) ::_exit(126);
      ::execve(argv[0], argv.data(), environment.data());
      ::_exit(127);
    }
    spawned = pid < 0 ? errno : 0;
  } else {
    spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environment.data());
  }
  posix_spawn_file_actions_destroy(&actions);
  if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return result;
  }
  // A program that hangs is stopped and reported instead of holding up the whole test run.
  int status = 0;
  bool watching = static_cast<bool>(options.WhileRunning);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.TimeoutSeconds);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "lumivor did not finish within " << options.TimeoutSeconds << " seconds";
      break;
    }
    if (watching && options.WhileRunning(pid)) watching = false;
    if (terminal >= 0) DrainInto(terminal, result.Out);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.Signal = WTERMSIG(status);
  if (terminal >= 0) {
    DrainInto(terminal, result.Out);
    ::close(terminalSide);
    ::close(terminal);
  } else if (options.Out == StandardOutput::File) {
    result.Out = FileText(outName);
  }
  result.Err = FileText(errName);
  std::filesystem::remove(outName);
  std::filesystem::remove(errName);
  return result;
}

// The user id tests run the program as when they need permissions to apply: "nobody" when the
// tests run as root (root passes every permission check), else no change.
inline uid_t UnprivilegedUser() {
  if (::geteuid() != 0) return static_cast<uid_t>(-1);
  const passwd* nobody = ::getpwnam("nobody");
  return nobody != nullptr ? nobody->pw_uid : 65534;
}

}  // namespace lumivor::testing
