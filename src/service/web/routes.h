#pragma once

#include "service/api/httpserver.h"
#include "service/api/vocabulary.h"

#include <optional>

namespace kestra::web {

// What the page reads besides the API's own calls, on the switch's thread:
//
//   GET /api/web/week          the week of each output as the week view draws it
//   GET /api/web/history?from=YYYY-MM-DD&days=1..31    the switchings of those days
//   GET /api/web/history.csv?...                        the same as the history window's CSV
//   GET /api/web/sounds        the sound files the inputs window offers
//
// Nothing when the path is none of these.
std::optional<api::HttpResponse> route(const api::Sources& s, const api::HttpRequest& r);

} // namespace kestra::web
