// The host's side of the progress callback: a bar on stderr when stderr is a
// terminal, and the way a Ctrl-C reaches a plug-in as a request to stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "frame/host_interface.h"

class ProgressBar {
 public:
  // One bar for a command that works through `items` plug-in calls, possibly
  // several at once.
  explicit ProgressBar(size_t items);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // What one plug-in call hands back as userData: its item and its label.
  struct Ticket {
    ProgressBar* bar;
    size_t item;
    std::string label;
  };
  Ticket Begin(size_t item, std::string label);
  // The item is done, whatever the plug-in reported last.
  void End(const Ticket& ticket);

  // The ProgressCallback to pass with the address of a Ticket. Answers nonzero
  // once the user has pressed Ctrl-C.
  static int32_t WINAPI Callback(int32_t position, int32_t total, intptr_t userData);

 private:
  void Set(size_t item, double fraction, const std::string* label);
  void DrawLocked();
  void ClearLocked();

  std::mutex mutex_;
  bool enabled_;
  bool drawn_ = false;
  std::vector<double> fractions_;
  size_t finished_ = 0;
  std::string label_;
  int lastTenths_ = -1;
  size_t lastFinished_ = 0;

  friend void PrintLine(const std::string& line);
};

// Writes one line to stderr without tearing a bar that is on screen.
void PrintLine(const std::string& line);

// From now on Ctrl-C does not end tessel at once but asks the running plug-in
// calls to stop (through their progress callbacks) and the command to start
// no new item; a second Ctrl-C ends tessel.
void CatchInterrupt();
bool Interrupted();
