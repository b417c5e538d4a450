#pragma once

// The marker-copy and lossless-transform helpers that sit beside libjpeg's
// coefficient copy (jpeg_read_coefficients / jpeg_write_coefficients). The
// installed libjpeg does not export them, so the program carries its own,
// with the library's names and calling order:
//
//   jcopy_markers_setup(src, option);          before jpeg_read_header
//   jtransform_request_workspace(src, &info);  after jpeg_read_header
//   coefs = jpeg_read_coefficients(src);
//   jpeg_copy_critical_parameters(src, dst);
//   coefs = jtransform_adjust_parameters(src, dst, coefs, &info);
//   jpeg_write_coefficients(dst, coefs);
//   jcopy_markers_execute(src, dst, option);
//   jtransform_execute_transformation(src, dst, coefs, &info);
//
// Errors inside these functions go through the libjpeg error manager of the
// object concerned (its error_exit), exactly like a library call.

// jpeglib.h uses FILE and size_t without declaring them.
// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
// clang-format on

/// Which markers of the source survive the copy.
enum JCOPY_OPTION {
  JCOPYOPT_NONE,      ///< no optional markers
  JCOPYOPT_COMMENTS,  ///< COM markers only
  JCOPYOPT_ALL,       ///< COM and every APPn marker
};

/// The lossless transform codes. This program carries out JXFORM_NONE; for
/// the others jtransform_request_workspace answers FALSE.
enum JXFORM_CODE {
  JXFORM_NONE,
  JXFORM_FLIP_H,
  JXFORM_FLIP_V,
  JXFORM_TRANSPOSE,
  JXFORM_TRANSVERSE,
  JXFORM_ROT_90,
  JXFORM_ROT_180,
  JXFORM_ROT_270,
};

/// Options and working state of one lossless transform.
struct jpeg_transform_info {
  // Set by the caller.
  JXFORM_CODE transform = JXFORM_NONE;
  boolean perfect = FALSE;          ///< fail rather than drop partial edge blocks
  boolean trim = FALSE;             ///< drop partial edge blocks a transform can't move
  boolean force_grayscale = FALSE;  ///< keep only the luminance of a YCbCr image
  boolean crop = FALSE;             ///< cropping is not offered; must stay FALSE

  // Filled by jtransform_request_workspace.
  int num_components = 0;                             ///< components of the output
  jvirt_barray_ptr* workspace_coef_arrays = nullptr;  ///< none needed for JXFORM_NONE
  JDIMENSION output_width = 0;
  JDIMENSION output_height = 0;
  int max_h_samp_factor = 1;
  int max_v_samp_factor = 1;
};

/// Tells the decompressor which markers to keep for the copy: COM for
/// JCOPYOPT_COMMENTS, COM and APP0..APP15 for JCOPYOPT_ALL, each with no length
/// limit. Call before jpeg_read_header. Markers saved by other
/// jpeg_save_markers calls are copied as well.
void jcopy_markers_setup(j_decompress_ptr srcinfo, JCOPY_OPTION option);

/// Writes every marker that the decompressor saved, in file order, to the
/// compressor. A JFIF APP0 is left out when the compressor writes its own JFIF
/// header, an Adobe APP14 when it writes its own Adobe marker. Call after
/// jpeg_write_coefficients and before any other marker write that must come
/// after them.
void jcopy_markers_execute(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, JCOPY_OPTION option);

/// Checks the request against the source read by jpeg_read_header and sets up
/// the output description. Answers FALSE (nothing allocated) for a transform
/// other than JXFORM_NONE and for cropping, which this program never asks for.
boolean jtransform_request_workspace(j_decompress_ptr srcinfo, jpeg_transform_info* info);

/// Fixes the compressor's parameters (set by jpeg_copy_critical_parameters) for
/// the transform: output size, and a single grey component with the luminance
/// quantisation table when force_grayscale is set (anything but YCbCr or grey
/// input then fails through the error exit). Answers the coefficient arrays to
/// hand to jpeg_write_coefficients.
jvirt_barray_ptr* jtransform_adjust_parameters(j_decompress_ptr srcinfo, j_compress_ptr dstinfo,
                                               jvirt_barray_ptr* src_coef_arrays, jpeg_transform_info* info);

/// Moves the coefficients for the transform. JXFORM_NONE needs no work: the
/// compressor reads the source arrays directly.
void jtransform_execute_transformation(j_decompress_ptr srcinfo, j_compress_ptr dstinfo,
                                       jvirt_barray_ptr* src_coef_arrays, jpeg_transform_info* info);

/// True when the image size is a whole number of MCUs (width a multiple of
/// 8 × the largest horizontal sampling factor, height of 8 × the largest
/// vertical one), which every transform other than JXFORM_NONE needs to keep
/// all edge blocks. Call after jpeg_read_header.
bool XpJpegIsMcuAligned(j_decompress_ptr srcinfo);
