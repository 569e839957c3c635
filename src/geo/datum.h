#pragma once
// Bessel 1841 to WGS84: a three-parameter datum shift through earth-centred cartesian
// coordinates, with a closed-form (Bowring) inverse. Pure arithmetic: no state, no failure.

#include <cstdint>

namespace zelvik {

// x, y: Bessel longitude and latitude in 1/36000 degree, as unsigned 32-bit values.
// Writes WGS84 longitude, then latitude, in degrees.
void BesselToWgs84(std::uint32_t x, std::uint32_t y, double& outLongitude, double& outLatitude);

// Angles in degrees, lengths in metres; a and b are the ellipsoid's semi-axes.
void GeodeticToEcef(double latitude, double longitude, double height, double& outX,
                    double& outY, double& outZ, double a, double b);
void EcefToGeodetic(double x, double y, double z, double& outLatitude, double& outLongitude,
                    double& outHeight, double a, double b);

}  // namespace zelvik
