// Prints degrees-to-text vectors computed with this machine's extended-precision arithmetic, as a
// JSON array of {"degrees": number, "latitude": bool, "text": "DD:MM:SS.mmm"}. The page script's
// exact emulation of that arithmetic is checked against them (the values are chosen on and next to
// the truncation boundaries, where plain doubles go wrong).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

void Digits(double value, bool latitude, char* out, std::size_t size) {
  const long double a = static_cast<long double>(std::fabs(value)) * 60.0L;
  const int totalMinutes = static_cast<int>(a);
  const long double b = (a - totalMinutes) * 60.0L;
  const int seconds = static_cast<int>(b);
  const int millis = static_cast<int>((b - seconds) * 1000.0L);
  std::snprintf(out, size, latitude ? "%02d:%02d:%02d.%03d" : "%03d:%02d:%02d.%03d", totalMinutes / 60,
                totalMinutes % 60, seconds, millis);
}

// Degrees as the program computes them from Exif rationals: extended precision, stored as double.
double FromRationals(std::uint32_t d, std::uint32_t m, std::uint32_t sNum, std::uint32_t sDen) {
  long double v = static_cast<long double>(sNum) / static_cast<long double>(sDen) * 0.0002777777777777778L;
  v += static_cast<long double>(m) / 1.0L * 0.016666666666666666L;
  v += static_cast<long double>(d);
  return static_cast<double>(v);
}

}  // namespace

int main() {
  std::vector<std::pair<double, bool>> values;
  const auto add = [&values](double v, bool latitude) {
    values.emplace_back(v, latitude);
    values.emplace_back(std::nextafter(v, 0.0), latitude);
    values.emplace_back(std::nextafter(v, 1000.0), latitude);
  };
  add(35.625788, true);
  add(139.742038, false);
  add(0.5, true);
  add(0.5, false);
  add(0.0, true);
  add(180.0, false);
  add(90.0, true);
  add(85.0511287798066, true);

  std::mt19937_64 random(20240611);
  // Every millisecond value as the page would have written it, near its truncation boundary.
  for (int i = 0; i < 4000; ++i) {
    const bool latitude = (i % 2) == 0;
    const auto deg = static_cast<int>(random() % (latitude ? 90 : 180));
    const auto min = static_cast<int>(random() % 60);
    const auto sec = static_cast<int>(random() % 60);
    const auto ms = static_cast<int>(random() % 1000);
    add(deg + min / 60.0 + (sec * 1000 + ms) / 3600000.0, latitude);
  }
  // Whole seconds and minutes, the boundaries most often hit by hand-made positions.
  for (int i = 0; i < 1000; ++i) {
    const bool latitude = (i % 2) == 1;
    const auto deg = static_cast<int>(random() % (latitude ? 90 : 180));
    const auto min = static_cast<int>(random() % 60);
    const auto sec = static_cast<int>(random() % 60);
    add(deg + min / 60.0 + sec / 3600.0, latitude);
  }
  // Positions read from camera rationals.
  for (int i = 0; i < 1000; ++i) {
    const bool latitude = (i % 2) == 0;
    const std::uint32_t den = (i % 3 == 0) ? 1000 : (i % 3 == 1) ? 100 : 10000;
    add(FromRationals(static_cast<std::uint32_t>(random() % 90), static_cast<std::uint32_t>(random() % 60),
                      static_cast<std::uint32_t>(random() % (60 * den)), den),
        latitude);
  }
  // Anything in range.
  std::uniform_real_distribution<double> anywhere(0.0, 180.0);
  for (int i = 0; i < 2000; ++i) {
    values.emplace_back(anywhere(random), (i % 2) == 0);
  }

  std::printf("[\n");
  char text[64];
  for (std::size_t i = 0; i < values.size(); ++i) {
    Digits(values[i].first, values[i].second, text, sizeof text);
    std::printf("{\"degrees\":%.17g,\"latitude\":%s,\"text\":\"%s\"}%s\n", values[i].first,
                values[i].second ? "true" : "false", text, i + 1 < values.size() ? "," : "");
  }
  std::printf("]\n");
  return 0;
}
