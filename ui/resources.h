// The station's pictures (pass and fail marks, toolbar pictures, logo), compiled into the ui
// library. A static library's resources must be registered once before the first use.
#pragma once

namespace quenby::ui {

void registerResources();

}  // namespace quenby::ui
