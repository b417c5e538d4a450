#include "xp/image/XpJpegLib.h"

static_assert(JPEG_LIB_VERSION == 62, "the JPEG code is written for the libjpeg 6b interface");

namespace {

[[noreturn]] void ThrowOnError(j_common_ptr info) { throw JpegAbort{info->err->msg_code, XpStatus::Ok}; }

// libjpeg would print warnings and traces on stderr; a library has no business
// writing there.
void DiscardMessage(j_common_ptr /*info*/) {}

void InstallErrorManager(jpeg_error_mgr& error) {
  jpeg_std_error(&error);
  error.error_exit = ThrowOnError;
  error.output_message = DiscardMessage;
}

}  // namespace

// ---------------------------------------------------------------------------
// Source manager

struct JpegDecompressor::Source : jpeg_source_mgr {
  XpAbstractFile* file = nullptr;
  std::unique_ptr<JOCTET[]> buffer;
  bool endOfStream = false;
  bool anyBytesRead = false;
  bool suppliedEndOfImage = false;

  static Source& From(j_decompress_ptr info) { return static_cast<Source&>(*info->src); }

  static void Init(j_decompress_ptr /*info*/) {}

  static boolean Fill(j_decompress_ptr info) {
    Source& self = From(info);
    // libjpeg asks for more only when it has used the whole buffer, and its
    // entropy decoders call this with a stale bytes_in_buffer (they keep their
    // own copy). Keeping "unread" bytes would feed data twice, so every refill
    // starts afresh.
    std::size_t filled = 0;
    if (!self.endOfStream) {
      std::uint64_t got = 0;
      const XpStatus st = self.file->Read(self.buffer.get(), kJpegStreamBufferSize, &got);
      if (st != XpStatus::Ok && st != XpStatus::EndOfFile) {
        throw JpegAbort{JERR_FILE_READ, st};
      }
      if (st == XpStatus::EndOfFile || got == 0) {
        self.endOfStream = true;
      }
      if (got > 0) {
        self.anyBytesRead = true;
      }
      filled = static_cast<std::size_t>(got);
    }
    if (filled == 0) {
      if (!self.anyBytesRead) {
        ERREXIT(info, JERR_INPUT_EMPTY);
      }
      // A truncated file: end the image here so that what was read decodes
      // and the missing rest comes out as the decoder's fill.
      WARNMS(info, JWRN_JPEG_EOF);
      self.buffer[0] = 0xFF;
      self.buffer[1] = JPEG_EOI;
      filled = 2;
      self.suppliedEndOfImage = true;
    }
    self.next_input_byte = self.buffer.get();
    self.bytes_in_buffer = filled;
    return TRUE;
  }

  static void Skip(j_decompress_ptr info, long count) {
    if (count <= 0) {
      return;
    }
    Source& self = From(info);
    auto remaining = static_cast<unsigned long>(count);
    while (remaining > self.bytes_in_buffer) {
      remaining -= static_cast<unsigned long>(self.bytes_in_buffer);
      self.bytes_in_buffer = 0;
      Fill(info);
      // Past the end there is only the supplied EOI; leave it for the reader.
      if (self.suppliedEndOfImage && self.endOfStream && self.bytes_in_buffer == 2) {
        return;
      }
    }
    self.next_input_byte += remaining;
    self.bytes_in_buffer -= remaining;
  }

  static void Term(j_decompress_ptr /*info*/) {}
};

JpegDecompressor::JpegDecompressor() {
  InstallErrorManager(m_error);
  m_info.err = &m_error;
  jpeg_CreateDecompress(&m_info, JPEG_LIB_VERSION, sizeof(m_info));
  m_created = true;
  m_info.mem->max_memory_to_use = kJpegDefaultMemoryLimit;
}

JpegDecompressor::~JpegDecompressor() {
  if (m_created) {
    m_info.src = nullptr;
    jpeg_destroy_decompress(&m_info);
  }
}

void JpegDecompressor::SetSource(XpAbstractFile& file) {
  auto source = std::make_unique<Source>();
  source->buffer = std::make_unique<JOCTET[]>(kJpegStreamBufferSize);
  source->file = &file;
  source->init_source = Source::Init;
  source->fill_input_buffer = Source::Fill;
  source->skip_input_data = Source::Skip;
  source->resync_to_restart = jpeg_resync_to_restart;
  source->term_source = Source::Term;
  source->next_input_byte = nullptr;
  source->bytes_in_buffer = 0;
  m_source = std::move(source);
  m_info.src = m_source.get();
}

void JpegDecompressor::SetMemoryLimit(long bytes) { m_info.mem->max_memory_to_use = bytes; }

long JpegDecompressor::GetMemoryLimit() const { return m_info.mem->max_memory_to_use; }

bool JpegDecompressor::SuppliedEndOfImage() const { return m_source != nullptr && m_source->suppliedEndOfImage; }

// ---------------------------------------------------------------------------
// Destination manager

struct JpegCompressor::Destination : jpeg_destination_mgr {
  XpAbstractFile* file = nullptr;
  std::unique_ptr<JOCTET[]> buffer;
  std::uint64_t written = 0;

  static Destination& From(j_compress_ptr info) { return static_cast<Destination&>(*info->dest); }

  void Reset() {
    next_output_byte = buffer.get();
    free_in_buffer = kJpegStreamBufferSize;
  }

  void Put(std::size_t count) {
    if (count == 0) {
      return;
    }
    if (const XpStatus st = file->WriteAll(buffer.get(), count); st != XpStatus::Ok) {
      throw JpegAbort{JERR_FILE_WRITE, st};
    }
    written += count;
  }

  static void Init(j_compress_ptr info) { From(info).Reset(); }

  static boolean Empty(j_compress_ptr info) {
    Destination& self = From(info);
    // libjpeg calls this with the whole buffer full, whatever free_in_buffer says.
    self.Put(kJpegStreamBufferSize);
    self.Reset();
    return TRUE;
  }

  static void Term(j_compress_ptr info) {
    Destination& self = From(info);
    self.Put(kJpegStreamBufferSize - self.free_in_buffer);
    self.Reset();
  }
};

JpegCompressor::JpegCompressor() {
  InstallErrorManager(m_error);
  m_info.err = &m_error;
  jpeg_CreateCompress(&m_info, JPEG_LIB_VERSION, sizeof(m_info));
  m_created = true;
  m_info.mem->max_memory_to_use = kJpegDefaultMemoryLimit;
}

JpegCompressor::~JpegCompressor() {
  if (m_created) {
    m_info.dest = nullptr;
    jpeg_destroy_compress(&m_info);
  }
}

void JpegCompressor::SetDestination(XpAbstractFile& file) {
  auto destination = std::make_unique<Destination>();
  destination->buffer = std::make_unique<JOCTET[]>(kJpegStreamBufferSize);
  destination->file = &file;
  destination->init_destination = Destination::Init;
  destination->empty_output_buffer = Destination::Empty;
  destination->term_destination = Destination::Term;
  destination->Reset();
  m_destination = std::move(destination);
  m_info.dest = m_destination.get();
}

void JpegCompressor::SetMemoryLimit(long bytes) { m_info.mem->max_memory_to_use = bytes; }

long JpegCompressor::GetMemoryLimit() const { return m_info.mem->max_memory_to_use; }

std::uint64_t JpegCompressor::BytesWritten() const { return m_destination != nullptr ? m_destination->written : 0; }
