#pragma once
// What stipplor-table's exit status means.
namespace stipplor::tabletool {

enum TExitStatus : int {
    ExitUsable = 0,     // done; for check: the table is usable
    ExitFindings = 1,   // check: the table has findings (ink limit, greys, ramps)
    ExitUnreadable = 2, // check: the plug-in cannot read the table
    ExitFailed = 3,     // make, identity: the file could not be made
    ExitUsage = 64,     // the command line is wrong
};

} // namespace stipplor::tabletool
