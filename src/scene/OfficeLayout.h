#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crew/AgentNode.h"
#include "graph/Palette.h"

namespace tallyloft {

// The pure arithmetic of the office's layout. Layout space is 200 units high and as wide as the
// panel's aspect requires, y running upwards from the bottom edge; one world unit is 100 layout
// units.

// A stable pseudo-random offset in [−1, 1] for `id`: 64-bit FNV-1a over its bytes, seeded with
// `salt`.
float jitter(std::string_view id, std::uint64_t salt);
// The room colour of a session: a hue from the same hash (43° for an empty id), saturation 0.75.
Color sessionHue(std::string_view id);
// Desks per row, front row first, for `n` desks in `rows` rows whose widths are `frontW` (front)
// and `backW` (each back row).
std::vector<int> splitRows(int n, int rows, float frontW, float backW);
// The status line of an agent's desk screen.
std::string deskText(const AgentNode& agent);

// The room under a point `fraction` of the way across the panel (0 left edge, 1 right edge) when
// `rooms` rooms share it evenly, in order; -1 when there are none.
int roomAt(double fraction, std::size_t rooms);

// How many paper piles a room shows for `clutter` sheets of at most `cap`: none for no clutter,
// else a share of 12 (small windows), 18 (large ones) or cap / 2.
int paperPiles(std::int64_t clutter, std::int64_t cap);

// How a room of width `slotW` seats `desks` desks: rows, their counts and pitches, and the base
// scale of its furniture and robots.
struct RoomRows {
  struct Row {
    int count = 0;
    float pitch = 0;
    float x0 = 0;  // the first desk's layout x
    int firstSlot = 0;
  };
  std::vector<Row> rows;
  float base = 1;
  float frontW = 0;
  float backW = 0;
  // The row and column of desk slot `slot`.
  std::pair<int, int> place(int slot) const;
};
RoomRows layoutRows(int desks, float lo, float slotW);

}  // namespace tallyloft
