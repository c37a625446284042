#include "progress_bar.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#define TesselIsTerminal(f) (_isatty(_fileno(f)) != 0)
#else
#include <unistd.h>
#define TesselIsTerminal(f) (isatty(fileno(f)) != 0)
#endif

namespace {

constexpr int BarWidth = 30;
constexpr size_t LabelWidth = 30;

std::atomic<bool> interrupted{false};

// The bar on screen, if any, so that messages can step around it.
std::mutex screenMutex;
ProgressBar* shownBar = nullptr;

extern "C" void OnInterrupt(int) {
  if (interrupted.exchange(true)) std::_Exit(130);
  std::signal(SIGINT, OnInterrupt);
}

}  // namespace

ProgressBar::ProgressBar(size_t items)
    : enabled_(TesselIsTerminal(stderr) && items > 0), fractions_(items, 0.0) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> screen(screenMutex);
  shownBar = this;
}

ProgressBar::~ProgressBar() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> screen(screenMutex);
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
  shownBar = nullptr;
}

ProgressBar::Ticket ProgressBar::Begin(size_t item, std::string label) {
  Ticket ticket{this, item, std::move(label)};
  Set(item, 0.0, &ticket.label);
  return ticket;
}

void ProgressBar::End(const Ticket& ticket) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++finished_;
  }
  Set(ticket.item, 1.0, nullptr);
}

int32_t WINAPI ProgressBar::Callback(int32_t position, int32_t total, intptr_t userData) {
  const auto* ticket = reinterpret_cast<const Ticket*>(userData);
  if (ticket != nullptr && total > 0 && position >= 0) {
    const double fraction = position >= total ? 1.0 : static_cast<double>(position) / total;
    ticket->bar->Set(ticket->item, fraction, nullptr);
  }
  return Interrupted() ? 1 : 0;
}

void ProgressBar::Set(size_t item, double fraction, const std::string* label) {
  if (!enabled_ || item >= fractions_.size()) return;
  std::lock_guard<std::mutex> screen(screenMutex);
  std::lock_guard<std::mutex> lock(mutex_);
  fractions_[item] = fraction;
  const bool relabel = label != nullptr && *label != label_;
  if (relabel) label_ = *label;
  double sum = 0;
  for (double f : fractions_) sum += f;
  // Redraw only when the figure moves, not at every callback.
  const int tenths = static_cast<int>(1000 * sum / fractions_.size());
  if (tenths == lastTenths_ && finished_ == lastFinished_ && !relabel) return;
  lastTenths_ = tenths;
  lastFinished_ = finished_;
  DrawLocked();
}

void ProgressBar::DrawLocked() {
  const int filled = lastTenths_ * BarWidth / 1000;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(BarWidth - filled), '-');
  std::string label = label_;
  if (label.size() > LabelWidth) label = "..." + label.substr(label.size() - (LabelWidth - 3));
  std::fprintf(stderr, "\r[%s] %3d.%d%%  %zu/%zu  %-*s", bar.c_str(), lastTenths_ / 10,
               lastTenths_ % 10, finished_, fractions_.size(), static_cast<int>(LabelWidth),
               label.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::ClearLocked() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", BarWidth + static_cast<int>(LabelWidth) + 24, "");
  std::fflush(stderr);
  drawn_ = false;
}

void PrintLine(const std::string& line) {
  std::lock_guard<std::mutex> screen(screenMutex);
  if (shownBar == nullptr) {
    std::fprintf(stderr, "%s\n", line.c_str());
    return;
  }
  std::lock_guard<std::mutex> lock(shownBar->mutex_);
  const bool wasDrawn = shownBar->drawn_;
  shownBar->ClearLocked();
  std::fprintf(stderr, "%s\n", line.c_str());
  if (wasDrawn) shownBar->DrawLocked();
}

void CatchInterrupt() { std::signal(SIGINT, OnInterrupt); }

bool Interrupted() { return interrupted.load(); }
