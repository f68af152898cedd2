// tremora.Connection: an open database connection.
#include "connection.hpp"
#include "doc_connections.hpp"
#include "module.hpp"

namespace tremora::python {

void bind_connections(py::module_& m) {
  m.attr("__version__") = TREMORA_VERSION;
  py::class_<ConnectionHandle>(m, "Connection", doc::Connection)
      .def(
          "close",
          [](ConnectionHandle& h) {
            if (h.conn) h.conn->close();
          },
          doc::Connection_close)
      .def_property_readonly(
          "is_open", [](const ConnectionHandle& h) { return h.conn && h.conn->is_open(); }, doc::Connection_is_open)
      .def_property_readonly(
          "info", [](const ConnectionHandle& h) { return h.conn->info(); }, doc::Connection_info)
      .def(
          "query",
          [](ConnectionHandle& h, const std::string& sql, const db::Binds& binds) {
            py::gil_scoped_release release;
            return h.conn->query(sql, binds);
          },
          "sql"_a, "binds"_a = db::Binds{}, doc::Connection_query)
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
