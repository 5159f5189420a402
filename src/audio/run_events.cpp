#include "audio/run_events.h"

namespace tapeloom {
namespace {

// More than anyone listens through: beyond it, events are counted only.
constexpr std::size_t kListedEvents = 1000;

bool IsDisk(RunEventKind kind) { return kind == RunEventKind::kTracksLate || kind == RunEventKind::kTakesLate; }

}  // namespace

RunEvents::RunEvents() { events_.reserve(kListedEvents); }

void RunEvents::Add(RunEventKind kind, std::int64_t position, std::int64_t frames) {
  if (IsDisk(kind)) {
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
      if (it->kind != kind) continue;
      if (it->position + it->frames == position) {
        it->frames += frames;
        return;
      }
      break;
    }
  }
  if (events_.size() == kListedEvents) {
    ++unlisted_;
    return;
  }
  events_.push_back(RunEvent{.kind = kind, .position = position, .frames = frames});
}

}  // namespace tapeloom
