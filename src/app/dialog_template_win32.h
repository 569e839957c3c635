#pragma once
// The native window's dialog template, built in memory from the toolkit-free control tables
// (the main window's and the about box's), so that Windows lays the controls out in its own
// dialog units from the very table the Linux window uses.

#include <windows.h>

#include <span>
#include <vector>

#include "app/dialog_layout.h"

namespace zelvik {

// The face of the template's 9-point font.
inline constexpr const wchar_t* kTemplateFontFace = L"굴림";
// The application icon's resource (a 32 x 32 and a 16 x 16 image).
inline constexpr int kIdAppIcon = 128;

struct DialogTemplateDesc {
  const char* caption;  // UTF-8
  int width;            // dialog units
  int height;
  DWORD style;          // the dialog's own window style; DS_SETFONT is added
  std::span<const ControlTemplate> controls;
};

// A DLGTEMPLATEEX with its items, DWORD-aligned, for DialogBoxIndirectParamW and
// CreateDialogIndirectParamW.
std::vector<DWORD> BuildDialogTemplate(const DialogTemplateDesc& desc);

// The main window: a visible pop-up with a caption, system menu, sizing border, minimise and
// maximise boxes. The about box: a modal frame with a caption and system menu.
std::vector<DWORD> MainWindowTemplate();
std::vector<DWORD> AboutBoxTemplate();

}  // namespace zelvik
