#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <ostream>

#include "app/cli/cli.h"
#include "app/cli/hardware.h"
#include "hw/ports.h"

namespace app {

namespace {

// "OUT3=1", "rts=0": a line name and its level.
bool ParseSetting(const std::string& text, std::string& line, bool& high) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq + 2 != text.size()) return false;
  if (text[eq + 1] != '0' && text[eq + 1] != '1') return false;
  line = text.substr(0, eq);
  std::transform(line.begin(), line.end(), line.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  high = text[eq + 1] == '1';
  if (line.size() == 4 && line.compare(0, 3, "OUT") == 0) return line[3] >= '1' && line[3] <= '8';
  return line == "RTS" || line == "DTR" || line == "TXD";
}

void Apply(const std::string& line, bool high) {
  if (line.compare(0, 3, "OUT") == 0) return hw::OutLine(line[3] - '0', high);
  if (line == "RTS") return high ? hw::RTS_hi() : hw::RTS_lo();
  if (line == "DTR") return high ? hw::DTR_hi() : hw::DTR_lo();
  return high ? hw::TXD_hi() : hw::TXD_lo();
}

}  // namespace

void RegisterLinesCommand(CLI::App& app, TCliContext& ctx) {
  auto* cmd = app.add_subcommand("lines", "Drive and read the adapter lines");
  auto settings = std::make_shared<std::vector<std::string>>();
  auto power = std::make_shared<std::string>();
  cmd->add_option("--set", *settings, "Drive a line: OUT1..OUT8, RTS, DTR or TXD =0 or =1");
  cmd->add_option("--power", *power, "Switch the adapter power")
      ->check(CLI::IsMember({"on", "off"}));
  cmd->callback([&ctx, settings, power] {
    std::vector<std::pair<std::string, bool>> todo;
    for (const auto& s : *settings) {
      std::string line;
      bool high = false;
      if (!ParseSetting(s, line, high)) {
        *ctx.err << "varnix22: \"" << s
                 << "\" is not a line setting (OUT1..OUT8, RTS, DTR, TXD followed by =0 or =1)\n";
        ctx.exitCode = kExitUsage;
        return;
      }
      todo.emplace_back(line, high);
    }
    THardwareSession session;
    if (!session.Open(ctx, "")) {
      ctx.exitCode = kExitFailed;
      return;
    }
    for (const auto& [line, high] : todo) Apply(line, high);
    if (*power == "on") hw::PowerOn();
    if (*power == "off") hw::PowerOff();

    auto& out = *ctx.out;
    const uint8_t shadow = hw::Ports().DataShadow;
    for (int n = 1; n <= 8; ++n)
      out << (n > 1 ? " " : "") << "Out" << n << '=' << !((shadow >> (n - 1)) & 1);
    out << "\nIn1=" << hw::Check_In1() << " In2=" << hw::Check_In2() << " In3=" << hw::Check_In3()
        << " In4=" << hw::Check_In4() << " StopBtn=" << hw::Check_StopBtn() << "\n";
    out << "CTS=" << hw::Check_CTS() << "\n";
    out << (hw::IsPowerOn() ? "Power ON" : "Power OFF") << "\n";
    ctx.exitCode = kExitOk;
  });
}

}  // namespace app
