// What the office holds, room by room, as tests, benchmarks and tools look at it.
#include <algorithm>

#include "scene/CrewRealityController.h"

namespace tallyloft {

const std::vector<std::unique_ptr<RobotEntity>>* CrewRealityController::bench(
    const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? nullptr : &it->second.bench;
}

std::optional<float> CrewRealityController::roomScale(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? std::nullopt : it->second.roomScale;
}

std::optional<glm::vec3> CrewRealityController::doorPosition(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? std::nullopt : it->second.doorPosition;
}

std::optional<float> CrewRealityController::doorAngle(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? std::nullopt : it->second.doorAngle;
}

std::optional<std::string> CrewRealityController::swarmLabel(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  if (it == rooms_.end() || !it->second.swarmLabel) return std::nullopt;
  return it->second.swarmLabel->text;
}

const ShopSign* CrewRealityController::sign(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? nullptr : it->second.sign.get();
}

std::vector<std::pair<int, int>> CrewRealityController::paperSheets(const std::string& sid) const {
  std::vector<std::pair<int, int>> sheets;
  const auto room = rooms_.find(sid);
  if (room == rooms_.end()) return sheets;
  for (const PaperPile& pile : room->second.papers) {
    sheets.emplace_back(static_cast<int>(pile.e->children().size()), pile.sheets);
  }
  return sheets;
}

std::optional<CrewRealityController::RoomPropsShown> CrewRealityController::roomProps(
    const std::string& sid) const {
  const auto it = rooms_.find(sid);
  if (it == rooms_.end() || !it->second.decor) return std::nullopt;
  const Room& room = it->second;
  RoomPropsShown shown;
  shown.clock = room.clock && room.clock->root->isEnabled();
  shown.board = room.board && room.board->root->isEnabled();
  shown.divider = room.decor->divider != nullptr && room.decor->divider->isEnabled();
  if (room.decor->couch != nullptr) shown.couch = room.decor->couch->orientation();
  return shown;
}

std::optional<glm::vec3> CrewRealityController::clockHands(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  if (it == rooms_.end() || !it->second.clock) return std::nullopt;
  return it->second.clock->handAngles();
}

int CrewRealityController::paperPileCount(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? 0 : static_cast<int>(it->second.papers.size());
}

std::vector<glm::vec3> CrewRealityController::paperPilePositions(const std::string& sid) const {
  std::vector<glm::vec3> positions;
  const auto it = rooms_.find(sid);
  if (it == rooms_.end()) return positions;
  for (const PaperPile& pile : it->second.papers) positions.push_back(pile.e->position());
  return positions;
}

const VacuumBotEntity* CrewRealityController::vacuum(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? nullptr : it->second.vacuum.get();
}

std::optional<glm::vec3> CrewRealityController::mainLinePos(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? std::nullopt : it->second.mainLinePos;
}

std::optional<glm::vec3> CrewRealityController::vacuumStation(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? std::nullopt : it->second.vacuumStation;
}

int CrewRealityController::flyingSheetCount(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? 0 : static_cast<int>(it->second.flyingPapers.size());
}

int CrewRealityController::cableCount(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? 0 : static_cast<int>(it->second.chainCables.size());
}

int CrewRealityController::cablesShown(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  if (it == rooms_.end()) return 0;
  return static_cast<int>(std::count_if(it->second.chainCables.begin(),
                                        it->second.chainCables.end(),
                                        [](const Entity* cable) { return cable->isEnabled(); }));
}

std::optional<float> CrewRealityController::chainProgress(const std::string& sid) const {
  const auto it = rooms_.find(sid);
  return it == rooms_.end() ? std::nullopt : it->second.chainT;
}

}  // namespace tallyloft
