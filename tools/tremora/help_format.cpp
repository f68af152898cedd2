// The help texts: every option with its default, in columns that line up in
// a terminal also when a default is Chinese text (two columns a character).
#include "commands.hpp"
#include "tremora/text.hpp"

namespace tremora::cli {
namespace {

class HelpFormatter : public CLI::Formatter {
 public:
  // "TYPE=DEFAULT ... REQUIRED"; a required option has no default to show.
  std::string make_option_opts(const CLI::Option* opt) const override {
    if (opt->get_type_size() == 0) return "";
    std::string text;
    if (!opt->get_type_name().empty()) text += " " + get_label(opt->get_type_name());
    if (!opt->get_required() && !opt->get_default_str().empty()) text += "=" + opt->get_default_str();
    if (opt->get_expected_max() == CLI::detail::expected_max_vector_size) text += " ...";
    if (opt->get_required()) text += " " + get_label("REQUIRED");
    return text;
  }

  // The name column padded by display width, then the description.
  std::string make_option(const CLI::Option* opt, bool is_positional) const override {
    std::string name = "  " + make_option_name(opt, is_positional) + make_option_opts(opt);
    std::string description = make_option_desc(opt);
    if (description.empty()) return name + "\n";
    std::size_t width = display_width(name);
    std::string indent(column_width_, ' ');
    std::string gap = width < column_width_ ? std::string(column_width_ - width, ' ') : "\n" + indent;
    return name + gap + replace_all(description, "\n", "\n" + indent) + "\n";
  }
};

}  // namespace

void configure_help(CLI::App& app) {
  app.formatter(std::make_shared<HelpFormatter>());
  app.option_defaults()->always_capture_default();
}

void set_examples(CLI::App* cmd, const std::vector<std::string>& command_lines) {
  std::string text = command_lines.size() == 1 ? "Example" : "Examples";
  text += " (in the folder that tremora demo writes):";
  for (const auto& line : command_lines) text += "\n  " + line;
  cmd->footer(text);
}

}  // namespace tremora::cli
