#pragma once
// Bessel 1841 to WGS84: a three-parameter datum shift through earth-centred cartesian
// coordinates, with a closed-form (Bowring) inverse. Pure arithmetic: no state, no failure.

#include <cstdint>

namespace zelvik {

// x, y: Bessel longitude and latitude in 1/36000 degree, as unsigned 32-bit values.
// Writes WGS84 longitude, then latitude, in degrees.
void BesselToWgs84(std::uint32_t x, std::uint32_t y, double& outLongitude, double& outLatitude);

}  // namespace zelvik
