#pragma once

namespace gpsfw::station {

// The page's files, built into the program so that the station serves everything the page
// needs itself: a line's network has no internet, and a page must not fetch from elsewhere.
extern const char kDashboardIndexHtml[];
extern const char kDashboardAppJs[];
extern const char kDashboardAppCss[];

}  // namespace gpsfw::station
