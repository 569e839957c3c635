#pragma once
// The names the four workers go by in their log lines and reports. Kept in the export, the
// lowest part that names a worker: an export plan carries its worker's label, and the workers
// and the front ends above it use the same names.

namespace zelvik {

// "s_ThreadWorker" for worker 1, "s_ThreadWorker2" to "s_ThreadWorker4" for the others.
const char* WorkerLabel(int nWorker);

}  // namespace zelvik
