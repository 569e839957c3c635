#include "extract/worker_label.h"

namespace zelvik {

const char* WorkerLabel(int nWorker) {
  switch (nWorker) {
    case 2: return "s_ThreadWorker2";
    case 3: return "s_ThreadWorker3";
    case 4: return "s_ThreadWorker4";
    default: return "s_ThreadWorker";
  }
}

}  // namespace zelvik
