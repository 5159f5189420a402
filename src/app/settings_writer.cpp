#include <cstdio>

#include "app/settings_file.h"
#include "app/settings_keys.h"
#include "wave/text_file.h"

namespace tapeloom {
namespace {

// The settings of one line each, from the table: all of them, or the first-run ones.
void AppendKeys(std::string& text, const SessionSettings& s, std::size_t count) {
  for (const SettingKey& row : SettingKeys().first(count)) {
    AppendFormat(text, "%.*s\t", static_cast<int>(row.key.size()), row.key.data());
    row.write(text, s);
    text += '\n';
  }
}

bool WriteSettingsFile(const std::string& text) {
  const FileStatus status = ReplaceFileAtomically(kSettingsFileName, text);
  if (status.ok()) return true;
  std::printf("Could not write %s: %s\n", kSettingsFileName, status.Reason().c_str());
  return false;
}

}  // namespace

std::string ComposeSettingsText(const SessionSettings& s) {
  std::string text;
  AppendKeys(text, s, SettingKeys().size());

  const int tracks = s.ch < kMaxTracks ? s.ch : kMaxTracks;
  text += "\nVolume Settings:\n";
  for (int t = 1; t <= tracks; ++t) {
    AppendFormat(text, "v\t%i\t%.2f\n", t, static_cast<double>(s.v[static_cast<std::size_t>(t - 1)]));
  }
  text += "\nPan Settings:\n";
  for (int t = 1; t <= tracks; ++t) {
    AppendFormat(text, "p\t%i\t%.0f\n", t, static_cast<double>(s.p[static_cast<std::size_t>(t - 1)]));
  }
  text += "\nSolo Settings:\n";
  for (int t = 1; t <= tracks; ++t) {
    if (s.solo[static_cast<std::size_t>(t - 1)] == 1) AppendFormat(text, "solo\t%i\n", t);
  }

  text += "\nTime Ranges:\n";
  for (const TimeRange& r : s.range) {
    if (r.in > 0 || r.out > 0) AppendFormat(text, "range\t%i\t%i\t%s\n", r.in, r.out, r.name.c_str());
  }
  text += "\nLocate Points:\n";
  for (const LocatePoint& l : s.loc) {
    if (l.position != 0) AppendFormat(text, "loc\t%i\t%s\n", l.position, l.name.c_str());
  }

  text += "\nPlaylist Files:\n";
  for (std::size_t slot = 0; slot < s.play.size(); ++slot) {
    if (!s.play[slot].empty()) AppendFormat(text, "play\t%i\t%s\n", static_cast<int>(slot + 1), s.play[slot].c_str());
  }
  text += "\nRecordlist Files:\n";
  for (std::size_t slot = 0; slot < s.rec.size(); ++slot) {
    if (!s.rec[slot].empty()) AppendFormat(text, "rec\t%i\t%s\n", static_cast<int>(slot + 1), s.rec[slot].c_str());
  }

  text += "\nBus Assignments:\n";
  for (std::size_t bus = 0; bus < s.busActive.size(); ++bus) {
    if (s.busActive[bus] != 1) continue;
    AppendFormat(text, "bus\t%i\t", static_cast<int>(bus + 1));
    for (std::size_t track = 0; track < s.busAssign[bus].size(); ++track) {
      if (s.busAssign[bus][track] == 1) AppendFormat(text, "%i,", static_cast<int>(track + 1));
    }
    text += '\n';
  }
  text += "\nBus Volumes (dB):\n";
  for (std::size_t bus = 0; bus < s.busvl.size(); ++bus) {
    if (s.busvl[bus] != 0.0f) {
      AppendFormat(text, "busvl\t%i\t%.2f\n", static_cast<int>(bus + 1), static_cast<double>(s.busvl[bus]));
    }
  }
  return text;
}

std::string ComposeFirstRunSettingsText(const SessionSettings& s) {
  std::string text;
  AppendKeys(text, s, kFirstRunKeys);
  return text;
}

bool Store_Settings(const SessionSettings& settings) {
  if (!WriteSettingsFile(ComposeSettingsText(settings))) return false;
  std::printf("\nStored Settings\n");
  return true;
}

bool MAKE_PARAM_FILE(const SessionSettings& settings) {
  if (!WriteSettingsFile(ComposeFirstRunSettingsText(settings))) return false;
  std::puts("Created param.txt file");
  return true;
}

}  // namespace tapeloom
