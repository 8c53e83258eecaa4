#include "cli/CtlMain.h"

#include "cli/DiagnosticsCommands.h"
#include "cli/ExitStatus.h"
#include "cli/FlashCommand.h"
#include "cli/FleetFlash.h"
#include "cli/NetworkCommands.h"
#include "cli/SettingsCommands.h"
#include "platform/Console.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <functional>
#include <string>

namespace qarn::cli {

namespace {

constexpr int kDefaultPort = 58009;

// The longest wait a command line may ask for (seconds): a day. More is a slip of the finger, and
// a number the clock cannot add (1e16 s) or that is no number at all (nan) must not reach it.
constexpr double kMaxSeconds = 86400;

// --time: a finite number of seconds above 0 and at most kMaxSeconds; "nan", "inf", "1e300" and
// "-3" are refused with the usage status.
CLI::Validator Seconds() {
    return CLI::Validator(
        [](std::string& input) {
            double value = 0;
            if (CLI::detail::lexical_cast(input, value) && std::isfinite(value) && value > 0 &&
                value <= kMaxSeconds)
                return std::string();
            return "expected seconds above 0 and at most " +
                   std::to_string(static_cast<int>(kMaxSeconds)) + ", got " + input;
        },
        "SECONDS", "SECONDS");
}

struct Verb {
    CLI::App* command = nullptr;
    std::function<int()> run;
};

void AddDiagnostics(CLI::App& app, std::vector<Verb>& verbs, DiagnosticsChange& change,
                    std::ostream& out, std::ostream& err) {
    CLI::App* diagnostics = app.add_subcommand(
        "diagnostics", "Show or change the diagnostics settings (log file, crash dumps)");
    diagnostics->require_subcommand(1);

    CLI::App* show = diagnostics->add_subcommand("show", "Print the stored diagnostics settings");
    verbs.push_back({show, [&out, &err] { return ShowDiagnostics(out, err); }});

    CLI::App* set = diagnostics->add_subcommand(
        "set", "Change the diagnostics settings; options not given keep their stored value");
    set->add_option("--log-level", change.logLevel,
                    "0 logging off, 1 errors, 2 + warnings, 3 + information, 4 + debug");
    set->add_option("--log-folder", change.logFolder, "Folder of the log file (must exist)");
    set->add_option("--dump-type", change.dumpType,
                    "0 crash dumps off, 1 normal, 2 with all readable memory");
    set->add_option("--dump-folder", change.dumpFolder, "Folder for crash dumps (must exist)");
    verbs.push_back({set, [&change, &out, &err] {
                         if (change.Empty()) {
                             err << kProgramName
                                 << ": diagnostics set: give at least one setting (see --help)\n";
                             return kExitUsage;
                         }
                         return SetDiagnostics(change, out, err);
                     }});

    CLI::App* clear =
        diagnostics->add_subcommand("clear", "Remove the diagnostics settings (everything off)");
    verbs.push_back({clear, [&out, &err] { return ClearDiagnostics(out, err); }});
}

// Everything the network verbs were given; filled by the parser, read by the verb that runs.
struct NetworkArguments {
    EndpointOptions endpoint;
    DiscoverOptions discover;
    bool json = false;
    bool csv = false;
    ShowOptions show;
    WriteOptions write;
    bool noVerify = false;
    FlashOptions flash;
    bool noWaitRestart = false;
    ExportOptions exportSettings;
    bool exportJson = false;
    ApplyOptions apply;
    bool applyNoVerify = false;
};

void AddDiscover(CLI::App& app, std::vector<Verb>& verbs, NetworkArguments& a, std::ostream& out,
                 std::ostream& err) {
    CLI::App* discover =
        app.add_subcommand("discover", "Find the converters on the LAN and print the device list");
    discover->add_option("--time", a.discover.seconds, "Seconds to listen before printing")
        ->capture_default_str()
        ->check(Seconds());
    CLI::Option* json = discover->add_flag("--json", a.json, "Print a JSON array");
    discover->add_flag("--csv", a.csv, "Print CSV with a header row")->excludes(json);
    verbs.push_back({discover, [&a, &out, &err] {
                         a.discover.form = a.json  ? OutputForm::Json
                                           : a.csv ? OutputForm::Csv
                                                   : OutputForm::Table;
                         return RunDiscover(a.endpoint, a.discover, out, err);
                     }});
}

void AddShow(CLI::App& app, std::vector<Verb>& verbs, NetworkArguments& a, std::ostream& out,
             std::ostream& err) {
    CLI::App* show =
        app.add_subcommand("show", "Print one converter's full record once all its answers are in");
    show->add_option("TARGET", a.show.target, "The converter's IPv4 or MAC address")->required();
    show->add_option("--time", a.show.seconds, "Seconds to wait for its answers")
        ->capture_default_str()
        ->check(Seconds());
    show->add_flag("--json", a.show.json, "Print a JSON object");
    verbs.push_back({show, [&a, &out, &err] { return RunShow(a.endpoint, a.show, out, err); }});
}

void AddWrite(CLI::App& app, std::vector<Verb>& verbs, NetworkArguments& a, std::ostream& out,
              std::ostream& err) {
    CLI::App* write = app.add_subcommand(
        "write", "Write settings to a converter; settings not given keep their value. A MAC "
                 "address that no listed converter has is written by MAC address (broadcast): "
                 "that needs --ip, and settings not given are sent as 0");
    write->add_option("TARGET", a.write.target, "The converter's IPv4 or MAC address")->required();
    WriteEdits& e = a.write.edits;
    write->add_option("--ip", e.ip, "New IP address (last octet not 0 or 255)");
    write->add_option("--netmask", e.netmask, "Subnet mask, e.g. 255.255.0.0");
    write->add_option("--gateway", e.gateway, "Gateway address");
    write->add_option("--port1", e.port1, "Port 1 (58000 to 58017 become 58018)");
    write->add_option("--port2", e.port2, "Port 2 (firmware before 3.0.0.0 only)");
    write->add_option("--peer", e.peer, "Peer address");
    write->add_option("--letter", e.letter, "Letter: one character from ! to z");
    write->add_option("--system-type", e.systemType, "rilo, tesk or vardo");
    write->add_flag("--no-verify", a.noVerify,
                    "Do not wait for the converter's answers to show the new settings");
    write
        ->add_option("--time", a.write.seconds,
                     "Seconds to wait for the converter, and again for the verification")
        ->capture_default_str()
        ->check(Seconds());
    verbs.push_back({write, [&a, &out, &err] {
                         a.write.verify = !a.noVerify;
                         return RunWrite(a.endpoint, a.write, out, err);
                     }});
}

void AddExport(CLI::App& app, std::vector<Verb>& verbs, NetworkArguments& a, std::ostream& out,
               std::ostream& err) {
    CLI::App* command = app.add_subcommand(
        "export", "Print the settings of every listed converter that write can change, keyed by "
                  "MAC address, for apply");
    command->add_option("--time", a.exportSettings.seconds, "Seconds to listen before printing")
        ->capture_default_str()
        ->check(Seconds());
    CLI::Option* json = command->add_flag("--json", a.exportJson, "JSON (the default)");
    command->add_flag("--csv", a.exportSettings.csv, "CSV with a header row")->excludes(json);
    verbs.push_back(
        {command, [&a, &out, &err] { return RunExport(a.endpoint, a.exportSettings, out, err); }});
}

void AddApply(CLI::App& app, std::vector<Verb>& verbs, NetworkArguments& a, std::ostream& out,
              std::ostream& err) {
    CLI::App* command = app.add_subcommand(
        "apply", "Write the settings of a file from export (JSON or CSV) to each converter whose "
                 "settings differ, with write's rules; a file that gives two converters one "
                 "address, or a value a converter refuses, is refused whole");
    command->add_option("FILE", a.apply.file, "The settings file")->required();
    command->add_flag("--dry-run", a.apply.dryRun, "Print what would change; send nothing");
    command->add_flag("--no-verify", a.applyNoVerify,
                      "Do not wait for the converters' answers to show the new settings");
    command
        ->add_option("--time", a.apply.seconds,
                     "Seconds to wait for the converters, and again for the verification")
        ->capture_default_str()
        ->check(Seconds());
    verbs.push_back({command, [&a, &out, &err] {
                         a.apply.verify = !a.applyNoVerify;
                         return RunApply(a.endpoint, a.apply, out, err);
                     }});
}

// Rows of the terminal on standard output, for the bars of a fleet update; 24 when unknown.
int TerminalRows() {
    return platform::TerminalRows().value_or(24);
}

void AddFlash(CLI::App& app, std::vector<Verb>& verbs, NetworkArguments& a, ProgressStyle style,
              std::ostream& out, std::ostream& err) {
    CLI::App* flash = app.add_subcommand(
        "flash", "Update converters' firmware with the image each firmware version calls for, "
                 "then print the version each reports afterwards; several converters (or --all) "
                 "are updated in parallel");
    FlashOptions& f = a.flash;
    flash->add_option("TARGET", f.targets, "The converters' IPv4 or MAC addresses");
    flash->add_flag("--all", f.all, "Update every converter that answers");
    flash->add_option("--kind", f.kind, "With --all: only converters of this kind")
        ->check(CLI::IsMember({"standard", "extended"}));
    flash->add_option("--parallel", f.parallel, "Transfers that run at the same time")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000));
    flash->add_flag("--json", f.json, "Progress and results as JSON lines");
    flash->add_flag("--no-wait-restart", a.noWaitRestart,
                    "Do not wait for the converter to answer echo after its restart");
    flash->add_flag("--allow-placeholder-images", f.allowPlaceholderImages,
                    "Send the placeholder images of a build without converter firmware (for "
                    "simulated converters only)");
    flash->add_flag("--via-service", f.viaService,
                    "Send the transfer through the local communication service (qarn-comm-service) "
                    "instead of this program's own UDP endpoint (one converter only)");
    flash
        ->add_option("--time", f.seconds,
                     "Seconds to wait for the converters, and again for their new firmware")
        ->capture_default_str()
        ->check(Seconds());
    flash
        ->add_option("--attempts", f.attempts,
                     "Transfers to try in all: a failed one starts over from the first block")
        ->capture_default_str()
        ->check(CLI::Range(1, 100));
    verbs.push_back({flash, [&a, style, &out, &err] {
                         FlashOptions& options = a.flash;
                         options.waitForRestart = !a.noWaitRestart;
                         // One converter without the fleet's own options: the single update.
                         if (options.targets.size() == 1 && !options.all && !options.json &&
                             options.kind.empty()) {
                             options.target = options.targets.front();
                             return RunFlash(a.endpoint, options, style, out, err);
                         }
                         const FleetOutput form = options.json ? FleetOutput::Json
                                                  : style == ProgressStyle::Bar
                                                      ? FleetOutput::Bars
                                                      : FleetOutput::Lines;
                         return RunFleetFlash(a.endpoint, options, form, out, err,
                                              form == FleetOutput::Bars ? TerminalRows() : 24);
                     }});
}

} // namespace

int RunCtl(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
           ProgressStyle progress) {
    CLI::App app{"Finds LAN converters, shows and writes their settings, updates their firmware, "
                 "and sets up diagnostics.",
                 kProgramName};
    app.require_subcommand(1);
    app.fallthrough(); // --port and --interface may also follow the verb

    NetworkArguments network;
    app.add_option("--port", network.endpoint.port, "UDP port of the converters and of this tool")
        ->default_val(kDefaultPort)
        ->check(CLI::Range(1, 65535));
    app.add_option("--interface", network.endpoint.broadcastInterface,
                   "Send discovery and other broadcasts only to this network interface's "
                   "directed broadcast (default: every interface)");

    std::vector<Verb> verbs;
    AddDiscover(app, verbs, network, out, err);
    AddShow(app, verbs, network, out, err);
    AddWrite(app, verbs, network, out, err);
    AddFlash(app, verbs, network, progress, out, err);
    AddExport(app, verbs, network, out, err);
    AddApply(app, verbs, network, out, err);
    DiagnosticsChange change;
    AddDiagnostics(app, verbs, change, out, err);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        err << kProgramName << ": " << e.what() << " (see --help)\n";
        return kExitUsage;
    }
    for (const Verb& verb : verbs) {
        if (verb.command->parsed())
            return verb.run();
    }
    err << kProgramName << ": no command given (see --help)\n";
    return kExitUsage;
}

} // namespace qarn::cli
