#pragma once

// The libjpeg plumbing shared by every JPEG operation of the library: objects
// that own a libjpeg compression or decompression struct together with its
// error manager, a source manager reading an XpAbstractFile and a destination
// manager writing one.
//
// libjpeg reports fatal errors through an error exit that must not return.
// Ours throws JpegAbort; every operation runs its libjpeg calls inside
// JpegRun, which catches it and answers the operation's status, so the
// exception never leaves the operation. The structs are destroyed by the
// owning objects' destructors on every path.

#include <cstddef>
#include <cstdint>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <memory>
#include <new>

#include "xp/base/XpStatus.h"
#include "xp/image/XpAbstractFile.h"

/// The exception thrown by the libjpeg error exit and by the stream managers.
/// It carries the libjpeg message code, and the stream's status when a stream
/// read or write failed (Ok otherwise).
struct JpegAbort {
  int messageCode = 0;
  XpStatus streamStatus = XpStatus::Ok;
};

/// Runs `body` (a callable answering XpStatus) and turns an abort inside it
/// into a status: the stream's status when a stream failed, `onLibraryError`
/// for any other libjpeg error, 0x8401 when memory ran out.
template <class Body>
[[nodiscard]] XpStatus JpegRun(XpStatus onLibraryError, Body&& body) noexcept {
  try {
    return body();
  } catch (const JpegAbort& abort) {
    return abort.streamStatus != XpStatus::Ok ? abort.streamStatus : onLibraryError;
  } catch (const std::bad_alloc&) {
    return XpStatus::OutOfMemory;
  } catch (...) {
    return onLibraryError;
  }
}

/// Size of the buffers through which the stream managers read and write.
inline constexpr std::size_t kJpegStreamBufferSize = 65536;

/// Upper bound of the memory libjpeg may take for its own work arrays (the
/// whole-image coefficient buffers of progressive and multi-scan files are the
/// large ones). A file that would need more fails with a library error instead
/// of exhausting the machine.
inline constexpr long kJpegDefaultMemoryLimit = 1536L * 1024 * 1024;

/// A libjpeg decompression object with its error manager and, once set, a
/// source manager. Construct, configure and use it inside JpegRun: creating
/// the object and every libjpeg call may throw JpegAbort. The destructor
/// destroys the object on every path. Not copyable or movable, because libjpeg
/// keeps pointers into it.
class JpegDecompressor {
 public:
  JpegDecompressor();
  ~JpegDecompressor();
  JpegDecompressor(const JpegDecompressor&) = delete;
  JpegDecompressor& operator=(const JpegDecompressor&) = delete;

  [[nodiscard]] jpeg_decompress_struct* Get() { return &m_info; }
  jpeg_decompress_struct* operator->() { return &m_info; }

  /// Reads the compressed data from `file`, from its current position, through
  /// a 65536-byte buffer. At the end of the stream the source supplies an EOI
  /// marker (0xFF 0xD9), so a truncated file decodes to its end. A failing read
  /// other than the end of the stream aborts with the stream's status. `file`
  /// must outlive the decompression.
  void SetSource(XpAbstractFile& file);

  /// Bounds libjpeg's own work memory (see kJpegDefaultMemoryLimit).
  void SetMemoryLimit(long bytes);
  [[nodiscard]] long GetMemoryLimit() const;

  /// True once the source ran out of data and supplied the EOI itself.
  [[nodiscard]] bool SuppliedEndOfImage() const;

 private:
  struct Source;

  jpeg_decompress_struct m_info{};
  jpeg_error_mgr m_error{};
  bool m_created = false;
  std::unique_ptr<Source> m_source;
};

/// A libjpeg compression object with its error manager and, once set, a
/// destination manager. The same rules as for JpegDecompressor apply.
class JpegCompressor {
 public:
  JpegCompressor();
  ~JpegCompressor();
  JpegCompressor(const JpegCompressor&) = delete;
  JpegCompressor& operator=(const JpegCompressor&) = delete;

  [[nodiscard]] jpeg_compress_struct* Get() { return &m_info; }
  jpeg_compress_struct* operator->() { return &m_info; }

  /// Writes the compressed data to `file` at its current position, in
  /// 65536-byte pieces; the last piece is written by jpeg_finish_compress. A
  /// failing write aborts with the stream's status. `file` must outlive the
  /// compression.
  void SetDestination(XpAbstractFile& file);

  /// Bounds libjpeg's own work memory (see kJpegDefaultMemoryLimit).
  void SetMemoryLimit(long bytes);
  [[nodiscard]] long GetMemoryLimit() const;

  /// Bytes handed to the stream so far.
  [[nodiscard]] std::uint64_t BytesWritten() const;

 private:
  struct Destination;

  jpeg_compress_struct m_info{};
  jpeg_error_mgr m_error{};
  bool m_created = false;
  std::unique_ptr<Destination> m_destination;
};
