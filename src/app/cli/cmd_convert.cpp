#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "app/cli/cli.h"
#include "base/format.h"
#include "hexedit/bytescope.h"
#include "hexedit/formats.h"

namespace app {

// Reads IN and writes OUT, each in the format its extension names. Unlike the hex
// editor, a file that does not parse in its format is an error here (with the line and
// the cause), not read as raw bytes.
void RegisterConvertCommand(CLI::App& app, TCliContext& ctx) {
  auto* cmd = app.add_subcommand(
      "convert", "Convert a buffer file: binary, Intel HEX (.hex), S-record (.s19 .s28 .s37 .mot)");
  auto in = std::make_shared<std::string>();
  auto out = std::make_shared<std::string>();
  auto force = std::make_shared<bool>(false);
  cmd->add_option("IN", *in, "File to read")->required();
  cmd->add_option("OUT", *out, "File to write")->required();
  cmd->add_flag("-f,--force", *force, "Replace OUT without asking when it exists");
  cmd->callback([&ctx, in, out, force] {
    hexedit::TBytescope buffer;
    hexedit::TFileError error;
    if (!hexedit::ReadBufferFile(buffer, *in, hexedit::FormatOfName(*in), &error)) {
      *ctx.err << "varnix22: " << error.Message() << "\n";
      ctx.exitCode = kExitUsage;
      return;
    }
    if (!hexedit::WriteBufferFile(buffer, *out, hexedit::FormatOfName(*out), !*force, &error)) {
      *ctx.err << "varnix22: " << error.Message() << "\n";
      ctx.exitCode = kExitFailed;
      return;
    }
    *ctx.out << base::Format("%s -> %s: %d bytes\n", *in, *out, buffer.DataSize());
    ctx.exitCode = kExitOk;
  });
}

}  // namespace app
