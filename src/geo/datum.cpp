#include "geo/datum.h"

#include <cmath>

namespace zelvik {
namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kRadToDeg = 57.29577951308232;
constexpr double kUnitToDeg = 0.00002777777777777778;

constexpr double kBesselA = 6377397.155;
constexpr double kBesselB = 6356078.962818189;
constexpr double kWgs84A = 6378137.0;
constexpr double kWgs84B = 6356752.314245179;

constexpr double kShiftX = -147.0;
constexpr double kShiftY = 506.0;
constexpr double kShiftZ = 687.0;

// The ellipsoid quantities, always derived from a and b by the same formulas.
struct Ellipsoid {
  double f, e2, ep2;
};
inline Ellipsoid Derive(double a, double b) {
  const double f = (a - b) / a;
  return {f, 2 * f - f * f, (a * a - b * b) / (b * b)};
}

// Angles in degrees, lengths in metres; a and b are the ellipsoid's semi-axes.
void GeodeticToEcef(double latitude, double longitude, double height, double& outX,
                    double& outY, double& outZ, double a, double b) {
  const double phi = latitude * kDegToRad;
  const double lambda = longitude * kDegToRad;
  const Ellipsoid e = Derive(a, b);
  const double sinPhi = std::sin(phi);
  const double n = a / std::sqrt(1 - e.e2 * sinPhi * sinPhi);
  outX = (n + height) * std::cos(phi) * std::cos(lambda);
  outY = (n + height) * std::cos(phi) * std::sin(lambda);
  outZ = (n * (1 - e.e2) + height) * sinPhi;
}

void EcefToGeodetic(double x, double y, double z, double& outLatitude, double& outLongitude,
                    double& outHeight, double a, double b) {
  const double p = std::sqrt(x * x + y * y);
  const double theta = std::atan2(z * a, p * b);
  const Ellipsoid e = Derive(a, b);
  const double sinT = std::sin(theta);
  const double cosT = std::cos(theta);
  const double phi = std::atan2(z + e.ep2 * b * sinT * sinT * sinT,
                                p - e.e2 * a * cosT * cosT * cosT);
  const double lambda = std::atan2(y, x);
  const double sinPhi = std::sin(phi);
  const double n = a / std::sqrt(1 - e.e2 * sinPhi * sinPhi);
  outHeight = p / std::cos(phi) - n;
  outLatitude = phi * kRadToDeg;
  outLongitude = lambda * kRadToDeg;
}

}  // namespace

void BesselToWgs84(std::uint32_t x, std::uint32_t y, double& outLongitude,
                   double& outLatitude) {
  const double lonBessel = static_cast<double>(x) * kUnitToDeg;
  const double latBessel = static_cast<double>(y) * kUnitToDeg;
  double ex, ey, ez;
  GeodeticToEcef(latBessel, lonBessel, 0.0, ex, ey, ez, kBesselA, kBesselB);
  ex += kShiftX;
  ey += kShiftY;
  ez += kShiftZ;
  double lat, lon, height;
  EcefToGeodetic(ex, ey, ez, lat, lon, height, kWgs84A, kWgs84B);
  outLongitude = lon;
  outLatitude = lat;
}

}  // namespace zelvik
