#include "xp/image/XpJpegTransform.h"

#include <jerror.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned kMaxMarkerLength = 0xFFFF;

// Markers whose payload starts with this identifier and a NUL.
bool HasIdentifier(const jpeg_marker_struct& marker, const char* id, unsigned length) {
  return marker.data != nullptr && marker.data_length >= length && std::memcmp(marker.data, id, length) == 0;
}

int LargestSampling(j_decompress_ptr srcinfo, bool horizontal) {
  int largest = 1;
  for (int ci = 0; ci < srcinfo->num_components; ++ci) {
    const jpeg_component_info& comp = srcinfo->comp_info[ci];
    largest = std::max(largest, horizontal ? comp.h_samp_factor : comp.v_samp_factor);
  }
  return largest;
}

bool GreyscaleCapable(J_COLOR_SPACE space, int components) {
  return (space == JCS_YCbCr && components == 3) || (space == JCS_GRAYSCALE && components == 1);
}

}  // namespace

void jcopy_markers_setup(j_decompress_ptr srcinfo, JCOPY_OPTION option) {
  if (option != JCOPYOPT_NONE) {
    jpeg_save_markers(srcinfo, JPEG_COM, kMaxMarkerLength);
  }
  if (option == JCOPYOPT_ALL) {
    for (int m = 0; m < 16; ++m) {
      jpeg_save_markers(srcinfo, JPEG_APP0 + m, kMaxMarkerLength);
    }
  }
}

void jcopy_markers_execute(j_decompress_ptr srcinfo, j_compress_ptr dstinfo, JCOPY_OPTION /*option*/) {
  // The option only decides what setup saved; whatever was saved is copied.
  for (jpeg_saved_marker_ptr marker = srcinfo->marker_list; marker != nullptr; marker = marker->next) {
    // The compressor has already written its own JFIF or Adobe marker; a second
    // copy would contradict it.
    if (dstinfo->write_JFIF_header && marker->marker == JPEG_APP0 && HasIdentifier(*marker, "JFIF", 5)) {
      continue;
    }
    if (dstinfo->write_Adobe_marker && marker->marker == JPEG_APP0 + 14 && HasIdentifier(*marker, "Adobe", 5)) {
      continue;
    }
    jpeg_write_m_header(dstinfo, marker->marker, marker->data_length);
    for (unsigned i = 0; i < marker->data_length; ++i) {
      jpeg_write_m_byte(dstinfo, marker->data[i]);
    }
  }
}

boolean jtransform_request_workspace(j_decompress_ptr srcinfo, jpeg_transform_info* info) {
  if (info->transform != JXFORM_NONE || info->crop) {
    return FALSE;
  }
  info->num_components = (info->force_grayscale && GreyscaleCapable(srcinfo->jpeg_color_space, srcinfo->num_components))
                             ? 1
                             : srcinfo->num_components;
  info->max_h_samp_factor = LargestSampling(srcinfo, true);
  info->max_v_samp_factor = LargestSampling(srcinfo, false);
  info->output_width = srcinfo->image_width;
  info->output_height = srcinfo->image_height;
  // Copying without a transform reads the source arrays in place.
  info->workspace_coef_arrays = nullptr;
  return TRUE;
}

jvirt_barray_ptr* jtransform_adjust_parameters(j_decompress_ptr /*srcinfo*/, j_compress_ptr dstinfo,
                                               jvirt_barray_ptr* src_coef_arrays, jpeg_transform_info* info) {
  if (info->transform != JXFORM_NONE || info->crop) {
    ERREXIT(dstinfo, JERR_NOT_COMPILED);
  }
  if (info->force_grayscale) {
    if (!GreyscaleCapable(dstinfo->jpeg_color_space, dstinfo->num_components)) {
      ERREXIT(dstinfo, JERR_CONVERSION_NOTIMPL);
    }
    // Setting the colour space resets the first component's table choice;
    // the luminance must keep the table its coefficients were quantised with.
    const int lumaTable = dstinfo->comp_info[0].quant_tbl_no;
    jpeg_set_colorspace(dstinfo, JCS_GRAYSCALE);
    dstinfo->comp_info[0].quant_tbl_no = lumaTable;
  }
  dstinfo->image_width = info->output_width;
  dstinfo->image_height = info->output_height;
  return src_coef_arrays;
}

void jtransform_execute_transformation(j_decompress_ptr srcinfo, j_compress_ptr /*dstinfo*/,
                                       jvirt_barray_ptr* /*src_coef_arrays*/, jpeg_transform_info* info) {
  if (info->transform != JXFORM_NONE || info->crop) {
    ERREXIT(srcinfo, JERR_NOT_COMPILED);
  }
}

bool XpJpegIsMcuAligned(j_decompress_ptr srcinfo) {
  const auto mcuWidth = static_cast<JDIMENSION>(8 * LargestSampling(srcinfo, true));
  const auto mcuHeight = static_cast<JDIMENSION>(8 * LargestSampling(srcinfo, false));
  return srcinfo->image_width % mcuWidth == 0 && srcinfo->image_height % mcuHeight == 0;
}
