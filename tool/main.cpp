// lumaveil: builds screensaver installers from a manifest and lists,
// inspects, extracts, verifies, compresses and expands their archives.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "tool/builder.h"
#include "tool/commands.h"
#include "tool/embedded_stub.h"
#include "tool/files.h"

#ifndef LUMAVEIL_VERSION
#define LUMAVEIL_VERSION "unknown"
#endif

namespace {

int Fail(const std::string& what) {
  std::fflush(stdout);
  fmt::print(stderr, "lumaveil: {}\n", what);
  return 1;
}

int Run(int argc, char** argv) {
  using lumaveil::fs::path;
  CLI::App app{"Builds and inspects self-extracting screensaver installers.", "lumaveil"};
  app.set_version_flag("--version", "lumaveil " LUMAVEIL_VERSION);
  app.require_subcommand(0, 1);
  app.footer("Exit status: 0 on success, 1 on any failure.  See docs/cli.md.");

  path in, out, file, directory;
  std::optional<path> output, stub;
  std::string entry;
  bool json = false, all = false;

  auto* compress = app.add_subcommand("compress", "Compress IN into an RC-block stream OUT (mask byte 0).");
  compress->add_option("IN", in, "file to compress")->required();
  compress->add_option("OUT", out, "stream to write")->required();

  auto* expand = app.add_subcommand("expand", "Expand the RC-block stream IN into OUT.");
  expand->add_option("IN", in, "stream to expand")->required();
  expand->add_option("OUT", out, "file to write")->required();

  auto* build = app.add_subcommand("build", "Build an installer from a manifest.");
  build->add_option("MANIFEST", file, "the TOML manifest")->required();
  build->add_option("-o,--output", output, "installer to write (default: <saver-name>-setup.exe beside the manifest)");
  build->add_option("--stub", stub, "installer program to put in front (default: the one built with lumaveil)");

  auto* list = app.add_subcommand("list", "List the archive directory of an installer or installed file.");
  list->add_option("FILE", file, "installer or installed .scr")->required();
  list->add_flag("--json", json, "print JSON");

  auto* info = app.add_subcommand("info", "Show the installer settings as the installer reads them.");
  info->add_option("FILE", file, "installer or installed .scr")->required();
  info->add_flag("--json", json, "print JSON");

  auto* extract = app.add_subcommand("extract", "Extract an entry's content (or every entry with --all).");
  extract->add_option("FILE", file, "installer or installed .scr")->required();
  extract->add_option("ENTRY", entry, "entry name (letter case ignored)");
  extract->add_flag("--all", all, "extract every entry into the directory given with -o");
  extract->add_option("-o,--output", output, "file to write (with --all: the directory)");

  auto* verify = app.add_subcommand("verify", "Check every entry of an archive; status 1 on any problem.");
  verify->add_option("FILE", file, "installer or installed .scr")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    return Fail(std::string(e.what()) + " (see lumaveil --help)");
  }

  try {
    if (*compress) return lumaveil::CompressCommand(in, out);
    if (*expand) return lumaveil::ExpandCommand(in, out);
    if (*build) {
      auto result = lumaveil::BuildInstaller({file, output, stub, EmbeddedStub(), 0});
      fmt::print("{}: {} bytes, {} entries\n", lumaveil::Shown(result.output), result.size, result.entries);
      return 0;
    }
    if (*list) return lumaveil::ListCommand(file, json);
    if (*info) return lumaveil::InfoCommand(file, json);
    if (*extract) {
      if (all == !entry.empty()) return Fail("extract: give either ENTRY or --all (see lumaveil --help)");
      if (all) {
        if (!output) return Fail("extract --all: give the directory with -o DIR");
        return lumaveil::ExtractAllCommand(file, *output);
      }
      return lumaveil::ExtractCommand(file, entry, output);
    }
    if (*verify) return lumaveil::VerifyCommand(file);
  } catch (const lumaveil::ToolError& e) {
    return Fail(e.what());
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  fmt::print("{}", app.help());
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
