// pst-recovery and office-recovery: the scans for one file type alone.
#include "cli/commands.h"

namespace cli {
namespace {

struct SingleScan {
  const char* command;
  const char* help;
  const char* typeName;
  const char* folderName;
};

void Register(CLI::App& app, Context& context, const SingleScan& scan) {
  auto options = std::make_shared<ScanOptions>();
  CLI::App* cmd = app.add_subcommand(scan.command, scan.help);
  AddScanOptions(*cmd, *options);
  cmd->callback([options, &context, scan] {
    Window window(context.preset(), ImageFiles({options->source}));
    ScanObserver observer(window.shell);
    const int stopped = RunScanCommand(
        window, *options, context, [&window, &observer, scan](const app::ScanRange& r) {
          window.dlg.RunSingleTypeScan(scan.typeName, scan.folderName, r, &observer);
        });
    const int lost = observer.faults().Print();
    if (window.dlg.lastScan().ran) {
      PrintSummary({window.dlg.SingleTypeFolder(scan.folderName)}, observer.files());
    }
    context.status = stopped != 0 ? stopped : StatusOf(window) | lost;
  });
}

}  // namespace

void RegisterSingleTypeScans(CLI::App& app, Context& context) {
  Register(app, context,
           {"pst-recovery",
            "Recover personal folder files of mail programs (.pst) alone, into the folder OUT "
            "followed by \"pst\" (OUT=/x/Lumisave gives /x/Lumisavepst). No pictures are "
            "looked for and nothing is asked.",
            "pst", "pst"});
  Register(app, context,
           {"office-recovery",
            "Recover database files (.dat) alone, into the folder OUT followed by \"Office\" "
            "(OUT=/x/Lumisave gives /x/LumisaveOffice). No pictures are looked for and nothing "
            "is asked.",
            "office", "Office"});
}

}  // namespace cli
