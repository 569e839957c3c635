#include "util/sys_error.h"

#include "util/platform.h"

namespace zelvik::platform {

SysError ErrnoError(int errnoValue) {
  SysError e;
  e.errnoValue = errnoValue;
  e.systemCode = errnoValue;
  e.text = ErrorText(errnoValue);
  return e;
}

}  // namespace zelvik::platform
