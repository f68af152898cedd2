// tremora.Connection: an open database connection.
#include "connection.hpp"
#include "module.hpp"

namespace tremora::python {

void bind_connections(py::module_& m) {
  m.attr("__version__") = TREMORA_VERSION;
  py::class_<ConnectionHandle>(m, "Connection",
                               "An open database connection (conn_to_Oracle gives one); close() or a with block "
                               "closes it.")
      .def(
          "close",
          [](ConnectionHandle& h) {
            if (h.conn) h.conn->close();
          },
          "Closes the connection (twice is harmless).")
      .def_property_readonly("is_open", [](const ConnectionHandle& h) { return h.conn && h.conn->is_open(); })
      .def_property_readonly(
          "info", [](const ConnectionHandle& h) { return h.conn->info(); },
          "The labels of the connection (tremora_cache_namespace, tremora_db_alias, ...).")
      .def(
          "query",
          [](ConnectionHandle& h, const std::string& sql, const db::Binds& binds) {
            py::gil_scoped_release release;
            return h.conn->query(sql, binds);
          },
          "sql"_a, "binds"_a = db::Binds{}, "Runs one SELECT with named binds (:name) and returns its rows.")
      .def(
          "__enter__", [](ConnectionHandle& h) -> ConnectionHandle& { return h; }, py::return_value_policy::reference)
      .def("__exit__",
           [](ConnectionHandle& h, py::args) {
             if (h.conn) h.conn->close();
             return false;
           })
      .def("__repr__", [](const ConnectionHandle& h) {
        auto alias = h.conn->info().find("tremora_db_alias");
        return "<tremora.Connection " + (alias != h.conn->info().end() ? alias->second : std::string("?")) +
               (h.conn->is_open() ? " open>" : " closed>");
      });
}

}  // namespace tremora::python
