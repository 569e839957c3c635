#pragma once
// The workers' backend over the real thing: the ODBC connection, the export run, the
// occupancy clean-up and the company-name directory.

#include <memory>

#include "workers/worker_backend.h"

namespace zelvik {

std::unique_ptr<WorkerBackend> MakeDatabaseBackend();

}  // namespace zelvik
