#include "app/dialog_layout.h"

#include <cstdint>

namespace zelvik {
namespace {

using K = ControlKind;

// The main window's template. The number of entries and their order are the template's.
constexpr ControlTemplate kControls[] = {
    {kIdCancel, K::kButton, "취소", {310, 0, 37, 14}},
    {1000, K::kButton, "Zelvik", {271, 0, 37, 14}},
    {kIdPane1, K::kPane, "", {0, 39, 545, 49}},
    {kIdNoControl, K::kLabel, "DSN:", {1, 2, 19, 10}},
    {1002, K::kEdit, "", {20, 1, 35, 12}},
    {kIdNoControl, K::kLabel, "UID:", {58, 2, 19, 10}},
    {1003, K::kEdit, "", {77, 1, 32, 12}},
    {kIdNoControl, K::kLabel, "PWD:", {112, 2, 19, 10}},
    {1004, K::kEdit, "", {132, 1, 59, 12}},
    {1011, K::kCheckBox, "상용", {195, 2, 28, 10}},
    {1012, K::kCheckBox, "특정일자1(YYYYMMDD)", {0, 15, 90, 10}},
    {1013, K::kEdit, "", {93, 15, 36, 12}},
    {1014, K::kEdit, "", {144, 15, 36, 12}},
    {kIdNoControl, K::kLabel, "~", {133, 17, 8, 10}},
    {1015, K::kCheckBox, "승/빈차 정리", {350, 2, 53, 10}},
    {kIdNoControl, K::kLabel, "경로:", {406, 3, 18, 10}},
    {kIdFolderButton, K::kButton, "폴더", {583, 0, 22, 14}},
    {1016, K::kEdit, "", {425, 2, 157, 12}},
    {kIdCopyToTable, K::kCheckBox, "copy2table", {222, 2, 49, 10}},
    {1018, K::kCheckBox, "특정일자2(YYYYMMDD)", {0, 27, 90, 10}},
    {1019, K::kEdit, "", {93, 27, 36, 12}},
    {1020, K::kEdit, "", {144, 27, 36, 12}},
    {kIdNoControl, K::kLabel, "~", {133, 29, 8, 10}},
    {kIdPane2, K::kPane, "", {0, 92, 545, 54}},
    {1021, K::kCheckBox, "특정일자3(YYYYMMDD)", {184, 15, 90, 10}},
    {1022, K::kEdit, "", {277, 15, 36, 12}},
    {1023, K::kEdit, "", {328, 15, 36, 12}},
    {kIdNoControl, K::kLabel, "~", {317, 17, 8, 10}},
    {1024, K::kCheckBox, "특정일자4(YYYYMMDD)", {184, 27, 90, 10}},
    {1025, K::kEdit, "", {277, 27, 36, 12}},
    {1026, K::kEdit, "", {328, 27, 36, 12}},
    {kIdNoControl, K::kLabel, "~", {317, 29, 8, 10}},
    {kIdPane3, K::kPane, "", {0, 151, 545, 54}},
    {kIdPane4, K::kPane, "", {0, 211, 545, 54}},
    {1027, K::kCheckBox, "Bessel2WGS84", {367, 15, 67, 10}},
    {kIdNoControl, K::kLabel, "area_cd :", {367, 27, 33, 10}},
    {1009, K::kEdit, "", {402, 26, 42, 12}},
};

constexpr ControlTemplate kAboutControls[] = {
    {kIdNoControl, K::kIcon, "", {11, 17, 20, 20}},
    {kIdNoControl, K::kLabel, "Zelvik 버전 1.0", {40, 10, 119, 8}},
    {kIdNoControl, K::kLabel, "택시 위치 이력 추출", {40, 25, 119, 8}},
    {kIdAboutOk, K::kButton, "확인", {178, 7, 50, 14}},
};

// units * base / divisor, rounded half away from zero as the dialog manager does.
int Scale(int units, int base, int divisor) {
  std::int64_t product = static_cast<std::int64_t>(units) * base;
  std::int64_t half = divisor / 2;
  std::int64_t rounded = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
  return static_cast<int>(rounded);
}

}  // namespace

std::span<const ControlTemplate> MainWindowControls() { return kControls; }

std::span<const ControlTemplate> AboutBoxControls() { return kAboutControls; }

const ControlTemplate* FindControl(int id) {
  if (id == kIdNoControl) return nullptr;
  for (const ControlTemplate& c : kControls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

int DialogUnitsToPixelsX(int units, DialogUnitBase base) { return Scale(units, base.charWidth, 4); }

int DialogUnitsToPixelsY(int units, DialogUnitBase base) {
  return Scale(units, base.charHeight, 8);
}

Rect DialogUnitsToPixels(const Rect& units, DialogUnitBase base) {
  return {DialogUnitsToPixelsX(units.x, base), DialogUnitsToPixelsY(units.y, base),
          DialogUnitsToPixelsX(units.width, base), DialogUnitsToPixelsY(units.height, base)};
}

std::array<Rect, 4> PaneLayout(int cx, int cy, int dpi) {
  const auto scaled = [dpi](int pixels) { return (pixels * dpi + 48) / 96; };
  const int margin = scaled(5);
  const int top = scaled(60);
  // Computed in 64 bits: a size near the int limits must not overflow the subtraction.
  std::int64_t h = (static_cast<std::int64_t>(cy) - top - margin) / 4;
  std::int64_t w = static_cast<std::int64_t>(cx) - 2 * margin;
  int height = h > 0 ? static_cast<int>(h) : 0;
  int width = w > 0 ? static_cast<int>(w) : 0;
  if (height == 0 || width == 0) {
    height = 0;
    width = 0;
  }
  std::array<Rect, 4> panes;
  for (int k = 0; k < 4; ++k) {
    panes[static_cast<std::size_t>(k)] = {margin, top + k * height, width, height};
  }
  return panes;
}

}  // namespace zelvik
