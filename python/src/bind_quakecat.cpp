// tremora.quakecat: fixed-column earthquake catalogues and the events near
// a station.
#include "doc_quakecat.hpp"
#include "plot_args.hpp"
#include "tremora/quakecat.hpp"

namespace tremora::python {

void bind_quakecat(py::module_& m) {
  m.attr("DEFAULT_STATION") = py::make_tuple(quakecat::kDefaultStation.latitude, quakecat::kDefaultStation.longitude);

  m.def(
      "read_quakecat",
      [](py::object quakecat_dir) {
        std::filesystem::path file = path_arg(quakecat_dir, "quakecat_dir");
        return without_gil([&] { return quakecat::read_quakecat(file); });
      },
      "quakecat_dir"_a, doc::read_quakecat);

  m.def(
      "filtered_quakecats",
      [](py::object df, py::object station, py::object filters, double default_magnitude, double default_distance) {
        Table events = from_dataframe(df, "df");
        quakecat::Station place = station_arg(station, "station");
        std::optional<quakecat::Filters> chosen = filters_arg(filters, "filters");
        Table marked = without_gil(
            [&] { return quakecat::filtered_quakecats(events, place, chosen, default_magnitude, default_distance); });
        // The caller's index is renamed, as the library does to its table.
        df.attr("index").attr("name") = "date";
        return marked;
      },
      "df"_a, "station"_a = py::make_tuple(quakecat::kDefaultStation.latitude, quakecat::kDefaultStation.longitude),
      "filters"_a = py::none(), "default_magnitude"_a = 3.0, "default_distance"_a = 300.0, doc::filtered_quakecats);
}

}  // namespace tremora::python
