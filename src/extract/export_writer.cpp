#include "extract/export_writer.h"

#include <cerrno>
#include <string_view>

#include "geo/datum.h"
#include "util/durable_io.h"
#include "util/number_parse.h"
#include "util/platform.h"

namespace zelvik {

ExportFileWriter::ExportFileWriter(std::FILE* file,
                                   const std::atomic<std::int32_t>& bBessel2WGS84,
                                   bool threaded, int writeBackFd)
    : file_(file),
      writeBackFd_(writeBackFd),
      bessel_(bBessel2WGS84),
      threaded_(threaded),
      batches_(new Batch[threaded ? kBatches : 1]),
      out_(new char[kOutBytes]) {
  if (threaded_) thread_ = std::thread([this] { Drain(); });
}

ExportFileWriter::~ExportFileWriter() {
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      end_ = true;
      abort_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
}

bool ExportFileWriter::Commit() {
  if (!threaded_) {
    WriteRow(batches_[0].rows[0]);
    return Error() == 0;
  }
  if (++count_ == kBatchRows) HandOver();
  return Error() == 0;
}

void ExportFileWriter::HandOver() {
  batches_[fill_ % kBatches].count = count_;
  count_ = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  ready_ = ++fill_;
  cv_.notify_all();
  // The next batch to fill must have been written.
  cv_.wait(lock, [this] { return fill_ - drained_ < kBatches; });
}

bool ExportFileWriter::Finish() {
  if (threaded_ && thread_.joinable()) {
    if (count_ > 0) {
      batches_[fill_ % kBatches].count = count_;
      count_ = 0;
      ++fill_;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ready_ = fill_;
      end_ = true;
    }
    cv_.notify_all();
    thread_.join();
  } else if (!threaded_) {
    Flush();
  }
  if (Error() == 0 && std::fflush(file_) != 0) Fail(errno);
  return Error() == 0;
}

void ExportFileWriter::Drain() {
  for (;;) {
    std::uint64_t next;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [this] { return drained_ < ready_ || end_; });
      if (abort_) return;
      if (drained_ == ready_ && end_) break;
      next = drained_;
    }
    // After a failure the rows are only consumed, so that the run's thread never waits.
    if (Error() == 0) WriteRows(batches_[next % kBatches]);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++drained_;
    }
    cv_.notify_all();
  }
  if (Error() == 0) Flush();
}

void ExportFileWriter::WriteRows(const Batch& batch) {
  for (std::size_t i = 0; i < batch.count; ++i) WriteRow(batch.rows[i]);
}

void ExportFileWriter::WriteRow(const ExportRowSlot& slot) {
  double lon = 0.0, lat = 0.0;
  if (bessel_.load(std::memory_order_relaxed) != 0) {
    const std::uint32_t x = ParsePosition(slot.szCol[4]);
    const std::uint32_t y = ParsePosition(slot.szCol[5]);
    if (!haveLast_ || x != lastX_ || y != lastY_) {
      BesselToWgs84(x, y, lastLon_, lastLat_);
      lastX_ = x;
      lastY_ = y;
      haveLast_ = true;
    }
    lon = lastLon_;
    lat = lastLat_;
  }
  if (kOutBytes - nOut_ < kMaxRowBytes) Flush();
  const auto sv = [&slot](int i) { return std::string_view(slot.szCol[i], slot.nLen[i]); };
  const ExportRow row{sv(0), sv(1), sv(2), sv(3), sv(4), sv(5), sv(6), sv(7), sv(8)};
  nOut_ += FormatExportRow(row, lon, lat, out_.get() + nOut_);
}

void ExportFileWriter::Flush() {
  if (nOut_ > 0 && Error() == 0 && std::fwrite(out_.get(), 1, nOut_, file_) != nOut_) {
    Fail(errno);
  }
  written_ += static_cast<std::int64_t>(nOut_);
  nOut_ = 0;
  if (writeBackFd_ >= 0 && written_ - writeBackStart_ >= kWriteBackBytes && Error() == 0) {
    if (std::fflush(file_) != 0) {
      Fail(errno);
      return;
    }
    platform::StartWriteBack(writeBackFd_, writeBackStart_, written_ - writeBackStart_);
    writeBackStart_ = written_;
  }
}

void ExportFileWriter::Fail(int error) {
  int expected = 0;
  error_.compare_exchange_strong(expected, error != 0 ? error : EIO);
}

}  // namespace zelvik
