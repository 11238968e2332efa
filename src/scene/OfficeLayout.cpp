#include "scene/OfficeLayout.h"

#include <algorithm>
#include <cmath>

namespace tallyloft {
namespace {

constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
constexpr std::uint64_t kFnvPrime = 1099511628211ull;

std::uint64_t fnv(std::string_view id, std::uint64_t salt) {
  std::uint64_t h = kFnvOffset + salt * kFnvPrime;
  for (unsigned char byte : id) h = (h ^ byte) * kFnvPrime;
  return h;
}

// The last path component of a target, or the whole target when that is empty.
std::string lastComponent(const std::string& target) {
  const std::size_t slash = target.find_last_of('/');
  if (slash == std::string::npos) return target;
  std::string last = target.substr(slash + 1);
  return last.empty() ? target : last;
}

}  // namespace

float jitter(std::string_view id, std::uint64_t salt) {
  return static_cast<float>(fnv(id, salt) % 2001) / 1000.0f - 1;
}

Color sessionHue(std::string_view id) {
  const float hue = id.empty() ? 43.0f / 360 : static_cast<float>(fnv(id, 0) % 360) / 360;
  return fromHsb(hue, 0.75f, 1);
}

std::vector<int> splitRows(int n, int rows, float frontW, float backW) {
  if (rows < 2) return {std::max(n, 1)};
  const float share =
      frontW * static_cast<float>(n) / (frontW + backW * static_cast<float>(rows - 1));
  const int front =
      std::clamp(static_cast<int>(std::lround(share)), 1, std::max(1, n - (rows - 1)));
  std::vector<int> split{front};
  const int rest = n - front;
  const int backRows = rows - 1;
  for (int k = 0; k < backRows; ++k)
    split.push_back(rest / backRows + (k < rest % backRows ? 1 : 0));
  return split;
}

std::string deskText(const AgentNode& agent) {
  const std::optional<std::string>& target = agent.currentTarget;
  const bool hasTarget = target && !target->empty();
  switch (agent.state) {
    case AgentState::thinking:
      return "Thinking…";
    case AgentState::working:
      if (!agent.currentTool) return "Working";
      switch (*agent.currentTool) {
        case ToolKind::edit:
          return hasTarget ? "Editing " + lastComponent(*target) : "Editing a file";
        case ToolKind::read:
          return hasTarget ? "Reading " + lastComponent(*target) : "Reading a file";
        case ToolKind::search:
          return hasTarget ? "grep \"" + *target + "\"" : "Searching";
        case ToolKind::run:
          return hasTarget ? "$ " + target->substr(0, target->find(' ')) : "$ command";
        case ToolKind::spawn:
          return "Delegating";
        case ToolKind::web:
          return "Browsing web";
        case ToolKind::todo:
          return "Planning";
        case ToolKind::phone:
          return "☎ " + (hasTarget ? *target : std::string("vendor"));
        case ToolKind::other:
          return "Working";
      }
      return "Working";
    case AgentState::waiting:
      return agent.waitReason == WaitReason::question ? "Has a question" : "Needs permission";
    case AgentState::idle:
      return "Idle";
    case AgentState::done:
      return "Done ✓";
    case AgentState::error:
      return "Error";
  }
  return "Working";
}

int paperPiles(std::int64_t clutter, std::int64_t cap) {
  if (clutter <= 0) return 0;
  const double fill = std::min(
      static_cast<double>(clutter) / static_cast<double>(std::max<std::int64_t>(cap, 1)), 1.0);
  const int most = cap < 24 ? 12 : cap > 35 ? 18 : static_cast<int>(cap / 2);
  return std::clamp(static_cast<int>(fill * most), 1, most);
}

std::pair<int, int> RoomRows::place(int slot) const {
  int row = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].firstSlot <= slot) row = static_cast<int>(r);
  }
  return {row, slot - rows[static_cast<std::size_t>(row)].firstSlot};
}

RoomRows layoutRows(int desks, float lo, float slotW) {
  RoomRows layout;
  layout.frontW = std::max(0.72f * slotW, 62.0f);
  layout.backW = std::max(0.52f * slotW, 62.0f);
  std::vector<int> best;
  float bestScore = -1;
  for (int r = 1; r <= std::min(desks, 3); ++r) {
    std::vector<int> split = splitRows(desks, r, layout.frontW, layout.backW);
    float pitch = layout.frontW / static_cast<float>(std::max(split[0], 1));
    for (std::size_t k = 1; k < split.size(); ++k)
      pitch = std::min(pitch, layout.backW / static_cast<float>(std::max(split[k], 1)));
    const float score = std::min(pitch / 124, 1.24f / static_cast<float>(r));
    if (best.empty() || score > bestScore + 0.001f) {
      best = std::move(split);
      bestScore = score;
    }
  }
  if (best.empty()) best = {1};
  layout.base = std::clamp(bestScore * 0.94f, 0.45f, 1.0f);
  int first = 0;
  for (std::size_t k = 0; k < best.size(); ++k) {
    RoomRows::Row row;
    row.count = best[k];
    const float rowW = k == 0 ? layout.frontW : layout.backW;
    row.pitch = rowW / static_cast<float>(std::max(row.count, 1));
    row.x0 =
        lo + 0.1f * slotW + (rowW - row.pitch * static_cast<float>(std::max(row.count - 1, 0))) / 2;
    row.firstSlot = first;
    first += row.count;
    layout.rows.push_back(row);
  }
  return layout;
}

int roomAt(double fraction, std::size_t rooms) {
  if (rooms == 0 || !std::isfinite(fraction)) return -1;
  const double index = std::floor(std::clamp(fraction, 0.0, 1.0) * static_cast<double>(rooms));
  return static_cast<int>(std::min(index, static_cast<double>(rooms - 1)));
}

}  // namespace tallyloft
