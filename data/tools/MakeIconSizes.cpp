// Writes the program's icon at the sizes of the desktop's icon theme, each as
// OUT/<size>x<size>/apps/NAME.png, from one large square picture.
//   tv_make_icons SOURCE.png NAME OUT SIZE...
#include <QDir>
#include <QImage>
#include <cstdio>

int main(int argc, char* argv[]) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: tv_make_icons SOURCE.png NAME OUT SIZE...\n");
    return 2;
  }
  QImage source(QString::fromLocal8Bit(argv[1]));
  if (source.isNull() || source.width() != source.height()) {
    std::fprintf(stderr, "tv_make_icons: %s is not a square picture\n", argv[1]);
    return 1;
  }
  source = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QString name = QString::fromLocal8Bit(argv[2]);
  const QString out = QString::fromLocal8Bit(argv[3]);
  for (int i = 4; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
    // Only smaller sizes: an enlarged picture would only look blurred.
    if (!ok || size < 8 || size > source.width()) {
      std::fprintf(stderr, "tv_make_icons: %s is not a size from 8 to %d\n", argv[i], source.width());
      return 2;
    }
    // Halving step by step keeps thin lines that one large reduction would lose.
    QImage image = source;
    while (image.width() / 2 >= size) {
      image = image.scaled(image.width() / 2, image.height() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (image.width() != size) {
      image = image.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!QDir().mkpath(folder) || !image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
      std::fprintf(stderr, "tv_make_icons: %s could not be written\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
