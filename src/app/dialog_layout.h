#pragma once
// The main window's template without a toolkit: every control with its ID, kind, caption and
// place in dialog units, the conversion of dialog units to pixels, and the stacking of the
// four log panes when the window is resized.

#include <array>
#include <cstddef>
#include <span>

namespace zelvik {

enum class ControlKind {
  kButton,    // push button
  kEdit,      // single-line field with a border
  kPane,      // multi-line log pane with a border and a vertical scroll bar
  kCheckBox,  // automatic check box: each click toggles its mark
  kLabel,     // static text
  kIcon,      // the application icon
};

// IDs of the controls the window handles itself (the model holds the others).
// The cancel button (2): the window opens with the focus on it, so that Enter or Space at once
// cancels the window; Escape and the close box end the window through it too.
inline constexpr int kIdCancel = 2;
inline constexpr int kIdFolderButton = 1006;
inline constexpr int kIdCopyToTable = 1017;
inline constexpr int kIdNoControl = -1;  // a label without an ID
inline constexpr int kIdPane1 = 1001;
inline constexpr int kIdPane2 = 1005;
inline constexpr int kIdPane3 = 1007;
inline constexpr int kIdPane4 = 1008;
// Pane k (1 to 4) of the run log and its control.
inline constexpr std::array<int, 4> kPaneIds = {kIdPane1, kIdPane2, kIdPane3, kIdPane4};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

struct ControlTemplate {
  int id;               // kIdNoControl for a label
  ControlKind kind;
  const char* caption;  // UTF-8
  Rect units;           // in dialog units
};

// The window's caption and its client size in dialog units.
inline constexpr const char* kWindowCaption = "Zelvik";
inline constexpr int kTemplateWidth = 608;
inline constexpr int kTemplateHeight = 352;
inline constexpr int kTemplateFontPoints = 9;

// The controls in template order, which is also the tab order.
std::span<const ControlTemplate> MainWindowControls();

// One second after the window opens, its one-shot timer presses the start button, once; the
// cancel command stops it, so that it never presses in a closing window.
inline constexpr int kStartTimerId = 1000;
inline constexpr int kStartDelayMs = 1000;

// The about box: its item in the window's menu and its own template (235 x 55 dialog units).
inline constexpr int kIdAboutBox = 16;
inline constexpr const char* kAboutMenuText = "Zelvik 정보(&A)...";
inline constexpr const char* kAboutCaption = "Zelvik 정보";
inline constexpr int kAboutWidth = 235;
inline constexpr int kAboutHeight = 55;
inline constexpr int kIdAboutOk = 1;
std::span<const ControlTemplate> AboutBoxControls();
// The template entry of a control, or null.
const ControlTemplate* FindControl(int id);

// Dialog units to pixels: a horizontal unit is a quarter of the font's average character
// width, a vertical unit an eighth of its character height; results are rounded.
struct DialogUnitBase {
  int charWidth;
  int charHeight;
};
int DialogUnitsToPixelsX(int units, DialogUnitBase base);
int DialogUnitsToPixelsY(int units, DialogUnitBase base);
Rect DialogUnitsToPixels(const Rect& units, DialogUnitBase base);

// Where the four panes go for a client area of cx x cy pixels: stacked without gaps from
// y = 60, each cx - 10 wide and (cy - 65) / 4 high, at x = 5. A client area too small for that
// (under 10 x 65, a minimised window reports 0 x 0) gives the panes an empty size. On a screen
// of dpi dots per inch the margins grow with the controls above them: by dpi / 96, rounded.
std::array<Rect, 4> PaneLayout(int cx, int cy, int dpi = 96);

}  // namespace zelvik
