#pragma once

#include <string>

#include "xp/image/XpAbstractFile.h"

/// A disk file as a stream. Other processes may read the file while it is open.
/// The descriptor is closed by the destructor on every path.
class XpFile final : public XpAbstractFile {
 public:
  XpFile() = default;
  explicit XpFile(std::string path) : m_path(std::move(path)) {}
  ~XpFile() override;

  [[nodiscard]] std::string GetDisplayName() const override { return m_path; }
  [[nodiscard]] std::int64_t GetLength() override;
  /// Opens the file at the stored path. Read only (1): an existing file.
  /// Read and write (3): created when missing, not truncated. Write only (2):
  /// created when missing and truncated. 0x8107 when open already, 0x8102
  /// without read or write.
  [[nodiscard]] XpStatus Open(unsigned flags) override;
  /// Sets the path and opens.
  [[nodiscard]] XpStatus Open(const std::string& path, unsigned flags);
  XpStatus Close() override;
  [[nodiscard]] XpStatus Read(void* buffer, std::uint64_t count, std::uint64_t* got) override;
  [[nodiscard]] XpStatus Write(const void* buffer, std::uint64_t count, std::uint64_t* written) override;
  [[nodiscard]] XpStatus Seek(std::int64_t offset, int origin) override;
  [[nodiscard]] std::int64_t GetPosition() const override;
  [[nodiscard]] XpStatus SetLength(std::uint64_t length) override;

  /// Forces written data to the disk (fsync), so that a rename that follows
  /// never exposes a file whose contents are not there yet.
  [[nodiscard]] XpStatus SyncToDisk();

  [[nodiscard]] bool IsOpen() const { return m_fd >= 0; }
  [[nodiscard]] const std::string& GetPath() const { return m_path; }
  [[nodiscard]] unsigned GetFlags() const { return m_flags; }

 private:
  std::string m_path;
  int m_fd = -1;
  unsigned m_flags = 0;
};
