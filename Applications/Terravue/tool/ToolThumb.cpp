// terravue-tool thumb FILE OUT: writes the thumbnail of a picture exactly as
// adding the picture to a map does (upright, fitted into 550 x 550, JPEG
// quality 70, carrying the picture's Exif data) and prints its size.
#include "Applications/Terravue/mapdata/PictureSources.h"
#include "Applications/Terravue/tool/ToolCommands.h"

int RunThumb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 2) {
    err << "usage: terravue-tool thumb FILE OUT\n";
    return 2;
  }
  std::int32_t width = 0;
  std::int32_t height = 0;
  XpStatus why = XpStatus::Ok;
  switch (MakeThumbnail(args[0], args[1], &width, &height, /*listed=*/false, &why)) {
    case PictureResult::Success:
      break;
    case PictureResult::ThumbnailFailed:
      err << args[1] << ": the thumbnail could not be written\n";
      return 1;
    default:
      if (why == XpStatus::PictureTooLarge) {
        err << args[0] << ": the picture has too many pixels to be decoded (" << XpStatusText(why) << ")\n";
      } else if (why == XpStatus::PictureDecodeFailed) {
        err << args[0] << ": the picture does not decode (" << XpStatusText(why) << ")\n";
      } else {
        err << args[0] << ": not a readable picture (" << XpStatusText(why) << ")\n";
      }
      return 1;
  }
  {
    ToolJsonObject json(out);
    json.Text("path", args[1]);
    json.Number("width", width);
    json.Number("height", height);
  }
  out << '\n';
  return 0;
}
