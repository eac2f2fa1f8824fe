#pragma once

namespace dialmend {

// Dates and times are written from now on in the user's own format: LC_TIME from the
// environment on POSIX systems, the user's regional format on Windows. Each program calls it
// once at start, so every window and the terminal show the same dates.
void UseUserDateFormat();

}  // namespace dialmend
