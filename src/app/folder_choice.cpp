#include "app/folder_choice.h"

#include "util/codepage.h"

namespace zelvik {

std::string FolderRefusal(std::string_view utf8Path) {
  if (Cp949Holds(utf8Path)) return std::string();
  return "코드 페이지 949로 쓸 수 없는 이름입니다: " + std::string(utf8Path);
}

}  // namespace zelvik
