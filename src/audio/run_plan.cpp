#include "audio/run_plan.h"

#include <algorithm>
#include <cstdio>

#include "core/time_base.h"
#include "mix/gains.h"
#include "tracks/list_files.h"
#include "wave/text_file.h"
#include "wave/wave_readers.h"

namespace tapeloom {
namespace {

constexpr std::int64_t kSilentBlockFrames = 4096;  // every run that plays begins with a block of silence

bool Any(const TrackFlags& flags) {
  return std::any_of(flags.begin(), flags.end(), [](int flag) { return flag == 1; });
}

class Planner {
 public:
  Planner(const RunContext& context, const RunRequest& request, RunPlan& plan)
      : context_(context), s_(context.settings), request_(request), plan_(plan) {}

  bool Make() {
    plan_.kind = request_.kind;
    plan_.plays = request_.plays();
    plan_.records = request_.records();
    plan_.monitors = request_.monitors();
    plan_.recordStart = s_.e;
    if (request_.kind == RunKind::kCalibrate) return Calibration();
    plan_.busCount = s_.mix == MixMode::kBusPairs ? s_.outputs / 2 : (s_.mix == MixMode::kMaster ? s_.ch / 2 : 0);
    RunListRequest lists{.plays = plan_.plays,
                         .records = plan_.records,
                         .monitor = plan_.monitors,
                         .solo = request_.kind == RunKind::kPlaySoloed};
    if (request_.kind == RunKind::kAudition) {
      // The audition plays every track, the recorded inputs' takes standing in for their tracks.
      const RunLists current = ResolveRunLists(s_, context_.input, {});
      const TakeState& takes = context_.takes;
      lists.auditionList = Hybridize(current.playText, takes.takeList, takes.recorded, s_.ch);
    }
    plan_.lists = ResolveRunLists(s_, context_.input, lists);
    played_ = lists.auditionList.value_or(plan_.lists.playText);
    plan_.start = StartPosition();
    plan_.stop = StopPosition();
    // A performance is never played to a recorder that writes nothing.
    if (plan_.records && !Any(plan_.lists.armedInputs)) {
      std::printf("No input is armed in %s, so nothing would be recorded: the recording is cancelled.\n",
                  s_.rec[0].c_str());
      return false;
    }
    if (plan_.records) NameTakes();
    if (plan_.plays) OpenTracks();
    if (plan_.records) {
      OpenTakes();
      if (!Any(plan_.recording)) {
        std::printf("No take could be created for the inputs armed in %s: the recording is cancelled.\n",
                    s_.rec[0].c_str());
        return false;
      }
    }
    PrintTitles();
    if (s_.int_ == 1) PrintPoints();
    if (s_.mix == MixMode::kStereo || MixesIntoBusses(s_.mix)) {
      SetVolume(s_.p, s_.v, context_.gains.left, context_.gains.right, s_.ch, plan_.lists.activeTracks,
                kTrackGainScale);
    }
    if (request_.kind == RunKind::kAudition) {
      plan_.lists.replacedTracks.fill(0);
      plan_.trackStartOffsets = request_.trackStartOffsets;
    }
    if (plan_.plays && plan_.records) PlaceCaptureStart();
    return true;
  }

 private:
  // A calibration run plays no track and creates no take: its signal goes to one output and one
  // input is captured into memory.
  bool Calibration() {
    const CalibrationLoop* loop = request_.calibration;
    plan_.start = s_.i;
    plan_.stop = s_.o;
    plan_.recordLength = static_cast<std::int64_t>(s_.o) - s_.e;
    if (loop == nullptr || loop->input < 0 || loop->input >= s_.inputs || loop->output < 0 ||
        loop->output >= s_.outputs) {
      return false;
    }
    const auto input = static_cast<std::size_t>(loop->input);
    plan_.lists.armedInputs[input] = 1;
    plan_.recording[input] = 1;
    PlaceCaptureStart();
    return true;
  }

  void NameTakes() {
    plan_.recordLength = static_cast<std::int64_t>(s_.o) - s_.e;
    NamingPass pass{.inputs = s_.inputs,
                    .armed = &plan_.lists.armedInputs,
                    .recordStart = s_.e,
                    .sr = s_.sr,
                    .takeNameMode = context_.takes.takeNameMode,
                    .takeName = context_.takes.takeName,
                    .recordListText = plan_.lists.recordText,
                    .stamp = NewTime()};
    plan_.takes = NameAndCreateTakes(pass, context_.input);
  }

  void OpenTracks() {
    const std::vector<std::string> played = SplitList(played_);
    for (std::size_t t = 0; t < played.size() && t < plan_.lists.activeTracks.size(); ++t) {
      if (plan_.lists.activeTracks[t] != 1) continue;
      FileStatus status;
      plan_.trackFiles[t] = OpenForReading(played[t], status);
      if (!plan_.trackFiles[t]) {
        std::printf("Can't open %s for playback\n", played[t].c_str());
        plan_.lists.activeTracks[t] = 0;
      }
    }
  }

  void OpenTakes() {
    for (int k = 0; k < s_.inputs && k < kMaxTracks; ++k) {
      const std::size_t ki = static_cast<std::size_t>(k);
      if (plan_.lists.armedInputs[ki] != 1) continue;
      const std::string& name = plan_.takes.names[ki];
      WaveAttributes attributes;
      // A take whose header could not be written is left out: nothing is recorded into it,
      // and take handling leaves its name alone.
      if (plan_.takes.failures[ki].ok() && GET_ATTRIBUTES(name, attributes) == 1) {
        FileStatus status;
        plan_.takeFiles[ki] = OpenForUpdate(name, status);
        plan_.takeDataOffsets[ki] = attributes.dataOffset;
      }
      if (plan_.takeFiles[ki]) {
        plan_.recording[ki] = 1;
      } else {
        std::printf("Can't open %s for recording\n", name.c_str());
      }
    }
  }

  void PrintTitles() const {
    switch (request_.kind) {
      case RunKind::kPlay: std::puts("Playing..."); break;
      case RunKind::kPlaySoloed:
        std::puts("Playing...");
        std::puts("Tracks are soloed");
        break;
      case RunKind::kPlayAndRecord: std::puts("Playing and Recording..."); break;
      case RunKind::kRecord: std::puts("Recording..."); break;
      case RunKind::kAudition:
        std::puts("Playing...");
        std::puts("Auditioning...");
        break;
      case RunKind::kMonitorArmed:
      case RunKind::kMonitorAll: std::puts("Monitoring Input Peaks..."); break;
      case RunKind::kCalibrate: break;  // the calibration prints its own lines
    }
  }

  void PrintPoints() const {
    if (plan_.monitors) return;
    const auto start = static_cast<SamplePosition>(plan_.start);
    const auto stop = static_cast<SamplePosition>(plan_.stop);
    const bool recordOnly = plan_.records && !plan_.plays;
    if (s_.tmode == 1) {
      const auto at = [this](SamplePosition p) { return SampleToMeasures(s_.sig, s_.tempo, p, s_.sr); };
      if (plan_.plays) {
        std::printf("playback start = %i.%.2f\n", at(start).measure, static_cast<double>(at(start).beat));
      }
      if (plan_.records) {
        std::printf("record start   = %i.%.2f\n", at(s_.e).measure, static_cast<double>(at(s_.e).beat));
      }
      const MusicalPosition end = at(stop);
      if (plan_.plays && plan_.records) {
        std::printf("play/rec stop  = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      } else if (recordOnly) {
        std::printf("record stop    = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      } else {
        std::printf("playback stop  = %i.%.2f\n", end.measure, static_cast<double>(end.beat));
      }
      return;
    }
    const auto seconds = [this](SamplePosition p) { return static_cast<double>(PositionToSeconds(p, s_.sr)); };
    if (plan_.plays) std::printf("playback start = %.2f sec\n", seconds(start));
    if (plan_.records) std::printf("record start   = %.2f sec\n", seconds(s_.e));
    if (plan_.plays && plan_.records) {
      std::printf("play/rec stop  = %.2f sec\n", seconds(stop));
    } else if (recordOnly) {
      std::printf("record stop    = %.2f sec\n", seconds(stop));
    } else {
      std::printf("playback stop  = %.2f sec\n", seconds(stop));
    }
  }

  SamplePosition StartPosition() const {
    if (plan_.monitors) return 0;
    // An audition plays the takes from where they were recorded, whatever the points are now.
    if (request_.kind == RunKind::kAudition) {
      return MovePosition(context_.takes.recordStart, request_.auditionStartOffset, 1);
    }
    if (plan_.records && !plan_.plays) return s_.e;
    return s_.i;
  }

  SamplePosition StopPosition() const {
    if (plan_.monitors) return request_.monitorFrames;
    if (request_.kind == RunKind::kAudition) {
      const TakeState& takes = context_.takes;
      return MovePosition(takes.recordStart, static_cast<std::int64_t>(takes.recordLength) - request_.auditionStopCut,
                          1);
    }
    return s_.o;
  }

  // Where the take of a run that plays begins in what the inputs capture, so that it holds what
  // was heard at the record start from its first frame on. The frame of the record start is
  // the record start's distance from the play start into the stream, after the silent block
  // every run begins with. It reaches the inputs once the playback buffer is played out before
  // it, plus what the card itself adds (its converters, its transport), which the session knows
  // only as `latcomp`, measured by "cal". A run whose playback starts before the record start
  // also waits the output delay compensation, `odcomp` periods, less the silent block and one
  // period: with the values before any calibration, the take begins where it always did.
  //
  // The capture starts right after the write that fills the playback buffer, before any write
  // has had to wait for the device: only there does its first frame stand in a fixed relation
  // to the frames played. (Started after a write that waited, it can fall into either of two
  // periods of a card whose playback and capture run on separate clocks or callbacks, and takes
  // land a period off from one run to the next.) The frames it captures before the take
  // begins are dropped; the take keeps its length.
  void PlaceCaptureStart() {
    const std::int64_t period = context_.port.PeriodFrames();
    const std::int64_t bufferFrames =
        std::max<std::int64_t>(context_.port.PlayBufferFrames() / std::max<std::int64_t>(period, 1), 1) * period;
    const std::int64_t recordStartFrame = static_cast<std::int64_t>(s_.e) - plan_.start + kSilentBlockFrames;
    std::int64_t target = recordStartFrame + bufferFrames + s_.latcomp;
    if (s_.i != s_.e) {
      target += (std::int64_t{s_.odcomp} - 1 - (kSilentBlockFrames + period - 1) / period) * period;
    }
    // Never before the capture starts, and never so late that a mistyped setting keeps the run
    // from ever recording (ten seconds).
    target = std::min(target, recordStartFrame + bufferFrames + std::int64_t{s_.sr} * 10);
    plan_.captureStart = bufferFrames;
    plan_.captureSkip = std::max<std::int64_t>(target - bufferFrames, 0);
  }

  const RunContext& context_;
  SessionSettings& s_;
  const RunRequest& request_;
  RunPlan& plan_;
  std::string played_;  // the list the run plays: the playlist, or the audition's list
};

}  // namespace

std::vector<int> RunPlan::RecordingInputs() const {
  std::vector<int> inputs;
  for (int k = 0; k < kMaxTracks; ++k) {
    if (recording[static_cast<std::size_t>(k)] == 1) inputs.push_back(k);
  }
  return inputs;
}

int RunPlan::PlayRows(int outputs) const {
  int rows = std::max(outputs, 2);
  for (int t = 0; t < kMaxTracks; ++t) {
    if (lists.activeTracks[static_cast<std::size_t>(t)] == 1) rows = std::max(rows, t + 1);
  }
  return rows;
}

std::unique_ptr<RunPlan> MakeRunPlan(const RunContext& context, const RunRequest& request) {
  auto plan = std::make_unique<RunPlan>();
  if (!Planner(context, request, *plan).Make()) return nullptr;
  return plan;
}

}  // namespace tapeloom
