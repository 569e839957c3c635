#include "app/dialog_layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

namespace zelvik {
namespace {

TEST(PaneLayout, StacksFourPanesBelowTheControls) {
  // 467 - 65 = 402: the remainder 2 of the division by four is dropped.
  std::array<Rect, 4> panes = PaneLayout(800, 467);
  EXPECT_EQ(panes[0], (Rect{5, 60, 790, 100}));
  EXPECT_EQ(panes[1], (Rect{5, 160, 790, 100}));
  EXPECT_EQ(panes[2], (Rect{5, 260, 790, 100}));
  EXPECT_EQ(panes[3], (Rect{5, 360, 790, 100}));
  // At 150 % (144 DPI) the margins grow with the controls: 8 px sides, the panes from y = 90.
  panes = PaneLayout(1200, 698, 144);
  EXPECT_EQ(panes[0], (Rect{8, 90, 1184, 150}));
  EXPECT_EQ(panes[3], (Rect{8, 540, 1184, 150}));
}

TEST(PaneLayout, TooSmallClientAreaGivesEmptyPanes) {
  for (auto [cx, cy] : {std::pair{0, 0}, {10, 500}, {800, 68}, {800, 64}, {-5, -5}}) {
    for (const Rect& pane : PaneLayout(cx, cy)) {
      EXPECT_EQ(pane.width, 0) << cx << "x" << cy;
      EXPECT_EQ(pane.height, 0) << cx << "x" << cy;
      EXPECT_EQ(pane.x, 5);
      EXPECT_EQ(pane.y, 60);
    }
  }
  // The smallest area that still shows something: 1 x 1 panes.
  EXPECT_EQ(PaneLayout(11, 69)[3], (Rect{5, 63, 1, 1}));
}

TEST(PaneLayout, HugeClientAreaDoesNotOverflow) {
  std::array<Rect, 4> panes = PaneLayout(INT_MAX, INT_MAX);
  EXPECT_EQ(panes[0].width, INT_MAX - 10);
  EXPECT_EQ(panes[0].height, (INT_MAX - 65) / 4);
  EXPECT_EQ(panes[3].y, 60 + 3 * ((INT_MAX - 65) / 4));
}

TEST(DialogUnits, ScaleAndRoundLikeTheDialogManager) {
  DialogUnitBase base{7, 12};
  EXPECT_EQ(DialogUnitsToPixelsX(kTemplateWidth, base), 1064);
  EXPECT_EQ(DialogUnitsToPixelsY(kTemplateHeight, base), 528);
  // Halves round up: 1 unit of 7/4 = 1.75 -> 2, 2 units of 12/8 -> 3, 1 unit -> 1.5 -> 2.
  EXPECT_EQ(DialogUnitsToPixelsX(1, base), 2);
  EXPECT_EQ(DialogUnitsToPixelsY(1, base), 2);
  EXPECT_EQ(DialogUnitsToPixelsY(27, base), 41);
  EXPECT_EQ(DialogUnitsToPixels({271, 0, 37, 14}, base), (Rect{474, 0, 65, 21}));
}

TEST(Template, HoldsEveryControlOnceWithinTheWindow) {
  std::set<int> ids;
  int labels = 0;
  for (const ControlTemplate& c : MainWindowControls()) {
    if (c.id == kIdNoControl) {
      EXPECT_EQ(c.kind, ControlKind::kLabel);
      ++labels;
    } else {
      EXPECT_TRUE(ids.insert(c.id).second) << "duplicate ID " << c.id;
      EXPECT_EQ(FindControl(c.id), &c);
    }
    EXPECT_GE(c.units.x, 0);
    EXPECT_GE(c.units.y, 0);
    EXPECT_LE(c.units.x + c.units.width, kTemplateWidth) << c.id;
    EXPECT_LE(c.units.y + c.units.height, kTemplateHeight) << c.id;
  }
  EXPECT_EQ(labels, 9);
  // The 25 controls the window binds, the cancel button (2), the folder button and the
  // copy-to-table check box (1017).
  EXPECT_EQ(ids.size(), 28u);
  for (int id = 1000; id <= 1027; ++id) {
    if (id == 1010) continue;
    EXPECT_TRUE(ids.count(id)) << id;
  }
  EXPECT_TRUE(ids.count(kIdCancel));
  EXPECT_EQ(FindControl(kIdNoControl), nullptr);
  EXPECT_EQ(FindControl(1010), nullptr);
  for (int pane : kPaneIds) EXPECT_EQ(FindControl(pane)->kind, ControlKind::kPane);
  // Tab order: the window opens with the focus on its first control, the cancel button (2).
  EXPECT_EQ(MainWindowControls().front().id, kIdCancel);
}

TEST(Template, ControlsEndAbovePaneTopWithTemplateFont) {
  // The 9-point template font gives 1.5 pixels per vertical unit (em 12 pixels): every
  // control but the panes then ends above y = 60, where the stacked panes begin.
  DialogUnitBase base{7, 12};
  for (const ControlTemplate& c : MainWindowControls()) {
    if (c.kind == ControlKind::kPane) continue;
    Rect r = DialogUnitsToPixels(c.units, base);
    EXPECT_LE(r.y + r.height, PaneLayout(1064, 528)[0].y) << c.caption << " " << c.id;
  }
}

}  // namespace
}  // namespace zelvik
