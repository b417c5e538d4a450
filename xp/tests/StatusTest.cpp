#include <gtest/gtest.h>

#include <cerrno>

#include "xp/base/XpStatus.h"

TEST(XpStatus, CarriesTheDesignedNumbers) {
  EXPECT_EQ(XpStatusValue(XpStatus::Failed), 0x8000);
  EXPECT_EQ(XpStatusValue(XpStatus::CreateFailed), 0x8100);
  EXPECT_EQ(XpStatusValue(XpStatus::NotOpen), 0x8101);
  EXPECT_EQ(XpStatusValue(XpStatus::InvalidArgument), 0x8102);
  EXPECT_EQ(XpStatusValue(XpStatus::EndOfFile), 0x8103);
  EXPECT_EQ(XpStatusValue(XpStatus::FileNotFound), 0x8105);
  EXPECT_EQ(XpStatusValue(XpStatus::PathNotFound), 0x8106);
  EXPECT_EQ(XpStatusValue(XpStatus::AlreadyOpen), 0x8107);
  EXPECT_EQ(XpStatusValue(XpStatus::AccessDenied), 0x8108);
  EXPECT_EQ(XpStatusValue(XpStatus::DiskFull), 0x8109);
  EXPECT_EQ(XpStatusValue(XpStatus::AlreadyExists), 0x810A);
  EXPECT_EQ(XpStatusValue(XpStatus::TooManyOpenFiles), 0x810B);
  EXPECT_EQ(XpStatusValue(XpStatus::OpenFailed), 0x810D);
  EXPECT_EQ(XpStatusValue(XpStatus::OpenForWriteFailed), 0x8111);
  EXPECT_EQ(XpStatusValue(XpStatus::BadPath), 0x8112);
  EXPECT_EQ(XpStatusValue(XpStatus::FolderNotEmpty), 0x8117);
  EXPECT_EQ(XpStatusValue(XpStatus::FileInvalid), 0x8119);
  EXPECT_EQ(XpStatusValue(XpStatus::NoDevice), 0x811A);
  EXPECT_EQ(XpStatusValue(XpStatus::OutOfMemory), 0x8401);
  EXPECT_EQ(XpStatusValue(XpStatus::XmlFailed), 0x8500);
  EXPECT_EQ(XpStatusValue(XpStatus::IntegerRange), 0x8509);
  EXPECT_EQ(XpStatusValue(XpStatus::JpegEncodeFailed), 0x8600);
  EXPECT_EQ(XpStatusValue(XpStatus::Cancelled), 0x8607);
  EXPECT_EQ(XpStatusValue(XpStatus::ExifBlockFull), 0x8610);
  EXPECT_EQ(XpStatusValue(XpStatus::NamesInSidecar), 0x8615);
  EXPECT_EQ(XpStatusValue(XpStatus::XmpInvalid), 0x8618);
  EXPECT_EQ(XpStatusValue(XpStatus::XmpNoPosition), 0x8619);
  EXPECT_EQ(XpStatusValue(XpStatus::XmpBadPosition), 0x861A);
  EXPECT_EQ(XpStatusValue(XpStatus::PhotoFormatUnknown), 0x8620);
  EXPECT_EQ(XpStatusValue(XpStatus::PhotoContainerDamaged), 0x8621);
  EXPECT_EQ(XpStatusValue(XpStatus::PositionStaysInPhoto), 0x8623);
  EXPECT_EQ(XpStatusValue(XpStatus::SidecarCheckFailed), 0x8624);
  EXPECT_EQ(XpStatusValue(XpStatus::PictureTooLarge), 0x8625);
  EXPECT_EQ(XpStatusValue(XpStatus::PictureDecodeFailed), 0x8626);
  EXPECT_EQ(XpStatusValue(XpStatus::BigTiffNotWritten), 0x8629);
  EXPECT_EQ(XpStatusValue(XpStatus::WrittenCopyDiffers), 0x862A);
  EXPECT_EQ(XpStatusValue(XpStatus::HeifNotEditable), 0x862C);
  EXPECT_EQ(XpStatusValue(XpStatus::SidecarHoldsPosition), 0x8622);
  EXPECT_EQ(XpStatusValue(XpStatus::PhotoTooLargeToWrite), 0x862B);
  EXPECT_EQ(XpStatusValue(XpStatus::IimInvalid), 0x8630);
  EXPECT_EQ(XpStatusValue(XpStatus::LocationSegmentFull), 0x8631);
  EXPECT_EQ(XpStatusValue(XpStatus::NoPositionToName), 0x8632);
  EXPECT_EQ(XpStatusValue(XpStatus::NoPlaceNear), 0x8633);
  EXPECT_EQ(XpStatusValue(XpStatus::TimeZoneDataInvalid), 0x863C);
  EXPECT_EQ(XpStatusValue(XpStatus::TimeZoneDataTooLarge), 0x863D);
  EXPECT_EQ(XpStatusValue(XpStatus::UnknownTimeZone), 0x863E);
  EXPECT_EQ(XpStatusValue(XpStatus::MetadataWouldMove), 0x863F);
  EXPECT_EQ(XpStatusText(XpStatus::NoExif), "0x8601");
  EXPECT_EQ(XpStatusText(XpStatus::BadPath), "0x8112");
  EXPECT_EQ(XpStatusText(XpStatus::Ok), "0");
}

TEST(XpStatus, MapsSystemErrors) {
  EXPECT_EQ(XpStatusFromErrno(0), XpStatus::Ok);
  EXPECT_EQ(XpStatusFromErrno(ENOENT), XpStatus::FileNotFound);
  EXPECT_EQ(XpStatusFromErrno(EACCES), XpStatus::AccessDenied);
  EXPECT_EQ(XpStatusFromErrno(EPERM), XpStatus::AccessDenied);
  EXPECT_EQ(XpStatusFromErrno(EROFS), XpStatus::AccessDenied);
  EXPECT_EQ(XpStatusFromErrno(EMFILE), XpStatus::TooManyOpenFiles);
  EXPECT_EQ(XpStatusFromErrno(ENFILE), XpStatus::TooManyOpenFiles);
  EXPECT_EQ(XpStatusFromErrno(ENOMEM), XpStatus::OutOfMemory);
  EXPECT_EQ(XpStatusFromErrno(ENOSPC), XpStatus::DiskFull);
  EXPECT_EQ(XpStatusFromErrno(EDQUOT), XpStatus::DiskFull);
  EXPECT_EQ(XpStatusFromErrno(EEXIST), XpStatus::AlreadyExists);
  EXPECT_EQ(XpStatusFromErrno(ENOTEMPTY), XpStatus::FolderNotEmpty);
  EXPECT_EQ(XpStatusFromErrno(ENODEV), XpStatus::NoDevice);
  EXPECT_EQ(XpStatusFromErrno(ENXIO), XpStatus::NoDevice);
  EXPECT_EQ(XpStatusFromErrno(EINVAL), XpStatus::InvalidArgument);
  EXPECT_EQ(XpStatusFromErrno(EIO), XpStatus::Failed);
  EXPECT_EQ(XpStatusFromErrnoForPath(ENOENT, "/no-such-folder-here/x"), XpStatus::PathNotFound);
  EXPECT_EQ(XpStatusFromErrnoForPath(ENOENT, "/tmp/no-such-file-here"), XpStatus::FileNotFound);
}
