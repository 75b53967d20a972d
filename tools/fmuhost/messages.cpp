#include "tools/fmuhost/messages.h"

namespace fmuhost {

std::string MessageLog::line(const Message &m) {
  std::string text = "[" + statusName(m.status) + "] " + m.instance;
  if (!m.category.empty()) text += " " + m.category;
  return text + ": " + m.text;
}

void MessageLog::add(fmi2Status status, const char *instance, const char *category,
                     const char *text) {
  Message m{status, instance ? instance : "", category ? category : "", text ? text : ""};
  if (live_)
    std::fprintf(err_, "%s\n", line(m).c_str());
  else
    held_.push_back(std::move(m));
}

void MessageLog::flushHeld() {
  for (std::size_t i = 0; i < held_.size();) {
    std::size_t j = i + 1;
    while (j < held_.size() && held_[j] == held_[i]) ++j;
    if (j - i > 1)
      std::fprintf(err_, "%s (repeated %zu times)\n", line(held_[i]).c_str(), j - i);
    else
      std::fprintf(err_, "%s\n", line(held_[i]).c_str());
    i = j;
  }
  held_.clear();
}

void MessageLog::callEnded(const char *call, fmi2Status status, double time,
                           const std::string &detail) {
  if (status == fmi2OK) {
    heldBack_ += static_cast<long>(held_.size());
    held_.clear();
    return;
  }
  char when[64];
  std::snprintf(when, sizeof when, "%.12g", time);
  callReported(std::string(call) + " returned " + statusName(status) + " at t = " + when + detail);
}

void MessageLog::callReported(const std::string &report) {
  std::fprintf(err_, "fmuhost: %s\n", report.c_str());
  flushHeld();
}

void MessageLog::putBack(Held messages) {
  messages.insert(messages.end(), held_.begin(), held_.end());
  held_ = std::move(messages);
}

void MessageLog::summary() {
  if (heldBack_ == 0) return;
  std::fprintf(err_,
               "fmuhost: %ld message%s of calls that ended fmi2OK not shown (--log shows every "
               "message)\n",
               heldBack_, heldBack_ == 1 ? "" : "s");
}

} // namespace fmuhost
