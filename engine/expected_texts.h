// The texts a module's replies are compared with, built from the settings.
#pragma once

#include <string>

#include "settings/test_settings.h"

namespace quenby {

// Version_MTK + "," + Version_Customer + "," + Version_Product_Model + "," + Version_SDKver.
std::string expectedVersionText(const TestSettings& s);

// The 19 output rates in the module's order (GLL, RMC, VTG, GGA, GSA, GSV, eleven kinds always
// off, ZDA, MCHN), comma-separated, ending with "*": 1,1,1,1,1,1,0,0,0,0,0,0,0,0,0,0,0,0,0* by
// default.
std::string expectedOutputText(const TestSettings& s);

}  // namespace quenby
