#include "app/dialog_template_win32.h"

#include <cstdint>
#include <string>

#include "util/codepage.h"

namespace zelvik {
namespace {

// Predefined window classes of a template item, by atom.
constexpr WORD kAtomButton = 0x0080;
constexpr WORD kAtomEdit = 0x0081;
constexpr WORD kAtomStatic = 0x0082;

// Collects the template's 16-bit words; items start on 32-bit boundaries.
class TemplateWriter {
 public:
  void Word(WORD w) { m_words.push_back(w); }
  void Dword(DWORD d) {
    Word(static_cast<WORD>(d & 0xFFFF));
    Word(static_cast<WORD>(d >> 16));
  }
  void Short(int v) { Word(static_cast<WORD>(static_cast<std::int16_t>(v))); }
  void Text(const char* utf8) {
    for (char16_t c : Utf8ToUtf16(utf8 != nullptr ? utf8 : "")) Word(static_cast<WORD>(c));
    Word(0);
  }
  void WideText(const wchar_t* text) {
    for (; *text != L'\0'; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  void Ordinal(WORD value) {
    Word(0xFFFF);
    Word(value);
  }
  void AlignDword() {
    if (m_words.size() % 2 != 0) Word(0);
  }
  std::vector<DWORD> Finish() {
    AlignDword();
    std::vector<DWORD> out(m_words.size() / 2);
    for (std::size_t k = 0; k < out.size(); ++k) {
      out[k] = static_cast<DWORD>(m_words[2 * k]) | (static_cast<DWORD>(m_words[2 * k + 1]) << 16);
    }
    return out;
  }

 private:
  std::vector<WORD> m_words;
};

DWORD ItemStyle(const ControlTemplate& c) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  switch (c.kind) {
    case ControlKind::kButton:
      return style | WS_TABSTOP | (c.id == IDOK ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    case ControlKind::kEdit: return style | WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL;
    case ControlKind::kPane:
      return style | WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL;
    case ControlKind::kCheckBox: return style | WS_TABSTOP | BS_AUTOCHECKBOX;
    case ControlKind::kLabel: return style | WS_GROUP | SS_LEFT;
    case ControlKind::kIcon: return style | SS_ICON;
  }
  return style;
}

WORD ItemClass(ControlKind kind) {
  switch (kind) {
    case ControlKind::kButton:
    case ControlKind::kCheckBox: return kAtomButton;
    case ControlKind::kEdit:
    case ControlKind::kPane: return kAtomEdit;
    case ControlKind::kLabel:
    case ControlKind::kIcon: return kAtomStatic;
  }
  return kAtomStatic;
}

}  // namespace

std::vector<DWORD> BuildDialogTemplate(const DialogTemplateDesc& desc) {
  TemplateWriter w;
  w.Word(1);       // dlgVer
  w.Word(0xFFFF);  // signature: the extended template
  w.Dword(0);      // helpID
  w.Dword(0);      // exStyle
  w.Dword(desc.style | DS_SETFONT);
  w.Word(static_cast<WORD>(desc.controls.size()));
  w.Short(0);
  w.Short(0);
  w.Short(desc.width);
  w.Short(desc.height);
  w.Word(0);  // no menu
  w.Word(0);  // the dialog class
  w.Text(desc.caption);
  w.Word(static_cast<WORD>(kTemplateFontPoints));
  w.Word(FW_NORMAL);
  w.Word(static_cast<WORD>(DEFAULT_CHARSET << 8));  // italic 0, then the character set
  w.WideText(kTemplateFontFace);

  for (const ControlTemplate& c : desc.controls) {
    w.AlignDword();
    w.Dword(0);  // helpID
    w.Dword(0);  // exStyle
    w.Dword(ItemStyle(c));
    w.Short(c.units.x);
    w.Short(c.units.y);
    w.Short(c.units.width);
    w.Short(c.units.height);
    w.Dword(static_cast<DWORD>(c.id));  // a label's -1 is the dialog manager's "no ID"
    w.Ordinal(ItemClass(c.kind));
    if (c.kind == ControlKind::kIcon) {
      w.Ordinal(static_cast<WORD>(kIdAppIcon));
    } else {
      w.Text(c.caption);
    }
    w.Word(0);  // no creation data
  }
  return w.Finish();
}

std::vector<DWORD> MainWindowTemplate() {
  return BuildDialogTemplate({kWindowCaption, kTemplateWidth, kTemplateHeight,
                              DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU |
                                  WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
                              MainWindowControls()});
}

std::vector<DWORD> AboutBoxTemplate() {
  return BuildDialogTemplate({kAboutCaption, kAboutWidth, kAboutHeight,
                              DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                              AboutBoxControls()});
}

}  // namespace zelvik
