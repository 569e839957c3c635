#pragma once
// The export file's side of a run: the WGS84 conversion, the row formatting and the writing.
// Threaded, it runs on a thread of its own so that this work overlaps the fetching of the
// next rows; the database connection is only ever used on the run's own thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "extract/row_format.h"

namespace zelvik {

// One fetched row: the nine column texts, each cut to 63 bytes and zero-terminated.
struct ExportRowSlot {
  char szCol[kExportColumns][kColumnBytes];
  std::uint8_t nLen[kExportColumns];
};

class ExportFileWriter {
 public:
  // Writes rows to file (which stays the caller's to close). bBessel2WGS84 is read for every
  // row: 0 writes both WGS84 values as zero. writeBackFd, when not -1, is the file's
  // descriptor: every few megabytes the stream is flushed and the disk write of what it
  // wrote is started, so that the sync before publishing finds little left to write.
  ExportFileWriter(std::FILE* file, const std::atomic<std::int32_t>& bBessel2WGS84,
                   bool threaded, int writeBackFd = -1);
  // Ends the thread; rows not yet written are dropped (the run has failed).
  ~ExportFileWriter();
  ExportFileWriter(const ExportFileWriter&) = delete;
  ExportFileWriter& operator=(const ExportFileWriter&) = delete;

  // The slot to fill with the next row; it stays the caller's until Commit.
  ExportRowSlot& Next() { return batches_[fill_ % kBatches].rows[count_]; }
  // Hands the row over. False once a write has failed: the run should stop.
  bool Commit();
  // Writes every row handed over and flushes the stream; false on a write error.
  bool Finish();
  // The errno of the first failed write, 0 if none.
  int Error() const { return error_.load(std::memory_order_acquire); }

 private:
  static constexpr std::size_t kBatchRows = 512;
  static constexpr std::size_t kBatches = 4;
  static constexpr std::size_t kOutBytes = 256 * 1024;
  static constexpr std::int64_t kWriteBackBytes = 8 * 1024 * 1024;
  struct Batch {
    ExportRowSlot rows[kBatchRows];
    std::size_t count;
  };

  void HandOver();
  void Drain();
  void WriteRows(const Batch& batch);
  void WriteRow(const ExportRowSlot& slot);
  void Flush();
  void Fail(int error);

  std::FILE* const file_;
  const int writeBackFd_;
  const std::atomic<std::int32_t>& bessel_;
  const bool threaded_;
  std::unique_ptr<Batch[]> batches_;
  std::size_t count_ = 0;      // rows in the batch being filled
  std::uint64_t fill_ = 0;     // batches handed over so far (the one being filled is next)

  std::mutex mutex_;
  std::condition_variable cv_;
  std::uint64_t drained_ = 0;  // batches written so far (guarded by mutex_)
  std::uint64_t ready_ = 0;    // batches handed over, as the writer sees them (mutex_)
  bool end_ = false;           // no batch will follow (mutex_)
  bool abort_ = false;         // drop what is left (mutex_)
  std::atomic<int> error_{0};
  std::thread thread_;

  // Writer side only.
  std::unique_ptr<char[]> out_;
  std::size_t nOut_ = 0;
  std::int64_t written_ = 0;         // bytes handed to the stream
  std::int64_t writeBackStart_ = 0;  // where the next write-back starts
  bool haveLast_ = false;  // the last converted position, as a standing vehicle repeats it
  std::uint32_t lastX_ = 0, lastY_ = 0;
  double lastLon_ = 0.0, lastLat_ = 0.0;
};

}  // namespace zelvik
