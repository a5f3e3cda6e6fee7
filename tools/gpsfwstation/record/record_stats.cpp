#include "tools/gpsfwstation/record/record_stats.h"
#include "tools/gpsfwstation/record/path_name.h"

#include <algorithm>
#include <map>

namespace gpsfw::station::record {
namespace {

std::string KeyOf(const UpdateRow& row, StatsBy by) {
  switch (by) {
    case StatsBy::kPort:
      return row.port;
    case StatsBy::kDay:
      return row.startUtc.substr(0, 10);
    case StatsBy::kImage:
      return row.imageSha256.substr(0, 12) + " " + BaseName(row.imagePath);
    case StatsBy::kStation:  // by name: two stations on one host are two groups
      return row.station.empty() ? row.host : row.station;
  }
  return "";
}

struct Group {
  StatsRow stats;
  int ended = 0;
  double totalSeconds = 0;
  std::map<std::string, int> reasons;
};

void Add(Group& g, const RowTally& t) {
  const UpdateRow& row = t.row;
  g.stats.total += t.count;
  if (row.result == "running") return;
  g.ended += t.count;
  g.totalSeconds += t.seconds;
  g.stats.slowestSeconds = std::max(g.stats.slowestSeconds, t.slowest);
  g.stats.retries += t.retries;
  if (row.result == "completed") {
    g.stats.completed += t.count;
  } else {
    g.reasons[row.reason.empty() ? row.result : row.reason] += t.count;
  }
}

void Close(Group& g) {
  StatsRow& s = g.stats;
  s.yield = g.ended > 0 ? static_cast<double>(s.completed) / g.ended : 0;
  s.meanSeconds = g.ended > 0 ? g.totalSeconds / g.ended : 0;
  s.reasons.assign(g.reasons.begin(), g.reasons.end());
  std::stable_sort(s.reasons.begin(), s.reasons.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
}

}  // namespace

std::vector<StatsRow> StatsOf(const std::vector<UpdateRow>& rows, StatsBy by) {
  std::vector<RowTally> tallies;
  for (const UpdateRow& row : rows) {
    tallies.push_back({row, 1, row.durationSeconds, row.durationSeconds, row.retries});
  }
  return StatsOf(tallies, by);
}

std::vector<StatsRow> StatsOf(const std::vector<RowTally>& tallies, StatsBy by) {
  std::map<std::string, Group> groups;
  for (const RowTally& t : tallies) {
    Group& g = groups[KeyOf(t.row, by)];
    g.stats.key = KeyOf(t.row, by);
    Add(g, t);
  }
  int ended = 0;
  int failed = 0;
  for (auto& [key, g] : groups) {
    Close(g);
    ended += g.ended;
    failed += g.ended - g.stats.completed;
  }
  std::vector<StatsRow> out;
  for (auto& [key, g] : groups) {
    const int myFailed = g.ended - g.stats.completed;
    const int otherEnded = ended - g.ended;
    const double otherShare =
        otherEnded > 0 ? static_cast<double>(failed - myFailed) / otherEnded : 0;
    const double myShare = g.ended > 0 ? static_cast<double>(myFailed) / g.ended : 0;
    g.stats.outlier = groups.size() > 1 && myFailed >= kOutlierMinFailures &&
                      myShare >= kOutlierFactor * otherShare && myShare > otherShare;
    out.push_back(g.stats);
  }
  return out;
}

}  // namespace gpsfw::station::record
