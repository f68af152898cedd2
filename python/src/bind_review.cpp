// tremora.review: the network review page. The fetches, checks and charts
// run without the GIL.
#include "args.hpp"
#include "connection.hpp"
#include "convert.hpp"
#include "doc_review.hpp"
#include "module.hpp"
#include "plot_args.hpp"
#include "tremora/review.hpp"

namespace tremora::python {

void bind_review(py::module_& m) {
  const review::ReviewOptions d{};
  m.def(
      "review",
      [](const ConnectionHandle* conn, const fetching::DateArg& start, const fetching::DateArg& end,
         const PathObject& out, const std::string& method, const std::string& station, const std::string& rate,
         const std::string& type, bool gzip, int reference_days, double band_k, const TextArg& quakecat,
         py::object quakecat_filters, bool geomag, std::optional<FrameObject> geomag_data, const TextArg& cache_dir) {
        if (!conn || !conn->conn) throw py::value_error("review needs an open connection (conn is None)");
        review::ReviewOptions o{.method = method,
                                .station = station,
                                .rate = rate,
                                .type = type,
                                .gzip = gzip,
                                .reference_days = reference_days,
                                .band_k = band_k,
                                .quake_filters = filters_arg(quakecat_filters, "quakecat_filters"),
                                .geomag = geomag,
                                .cache_dir = cache_dir};
        if (!quakecat.text.empty()) o.quakecat = quakecat.text;
        if (geomag_data) o.geomag_data = from_dataframe(geomag_data->object, "geomag_data");
        std::filesystem::path folder = path_arg(out.object, "out");
        Table table = without_gil([&] { return review::review(conn->conn, start, end, folder, o); });
        return FrameObject{to_dataframe(std::move(table))};
      },
      "conn"_a, "start"_a, "end"_a, py::kw_only(), "out"_a, "method"_a = d.method, "station"_a = d.station,
      "rate"_a = d.rate, "type"_a = d.type, "gzip"_a = d.gzip, "reference_days"_a = d.reference_days,
      "band_k"_a = d.band_k, "quakecat"_a = py::none(), "quakecat_filters"_a = py::none(), "geomag"_a = d.geomag,
      "geomag_data"_a = py::none(), "cache_dir"_a = d.cache_dir, doc::review);
}

}  // namespace tremora::python
